#!/usr/bin/python3
"""Times a 20000-point CHAN1:DATA? block read through pyvisa-py from benchsim,
with query_binary_values, and one "*OPC?" round trip.

Usage: /usr/bin/python3 pyvisa_blockread.py <path to quenvia-benchsim> [iterations]
"""
import statistics
import subprocess
import sys
import time

import pyvisa


def report(what, values):
    values = sorted(values)
    print("%-34s n=%d  median %.3f ms  mean %.3f ms  min %.3f ms  max %.3f ms"
          % (what, len(values), values[len(values) // 2], statistics.mean(values), values[0], values[-1]))


def main():
    benchsim = sys.argv[1]
    iterations = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    proc = subprocess.Popen([benchsim, "--stdin-eof"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    osc_res = proc.stdout.readline().split()[2].split("=", 1)[1]
    rm = pyvisa.ResourceManager("@py")
    try:
        osc = rm.open_resource(osc_res, read_termination="\n", write_termination="\n")
        osc.timeout = 5000
        osc.query("ACQ:POIN 20000;FORM REAL,32;*TRG;*OPC?")
        opc, block = [], []
        for _ in range(iterations):
            t0 = time.perf_counter()
            osc.query("*OPC?")
            t1 = time.perf_counter()
            data = osc.query_binary_values("CHAN1:DATA?", datatype="f", container=list)
            t2 = time.perf_counter()
            assert len(data) == 20000
            opc.append((t1 - t0) * 1000)
            block.append((t2 - t1) * 1000)
        report("pyvisa-py: *OPC? round trip", opc)
        report("pyvisa-py: 20000-point block", block)
        osc.close()
    finally:
        rm.close()
        proc.stdin.close()
        proc.wait(timeout=10)


if __name__ == "__main__":
    main()
