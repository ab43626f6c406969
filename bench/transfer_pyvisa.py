#!/usr/bin/python3
"""pyvisa with the pyvisa-py backend as a transfer client, with its default
chunk sizes, as a user gets it from Debian's python3-pyvisa-py.

Usage: transfer_pyvisa.py <resource> <case> <data bytes> <repetitions>
Cases opc and mem, as the C clients (bench/transfer_timing.h); prints the
same line of times.
"""
import json
import sys
import time

import pyvisa


def report(seconds):
    print(json.dumps({"samples": seconds}), flush=True)


def main():
    if len(sys.argv) != 5:
        sys.exit("usage: transfer_pyvisa.py <resource> opc|mem <data bytes> <repetitions>")
    resource, case, size, reps = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(resource, read_termination="\n", write_termination="\n")
    inst.timeout = 30000
    try:
        if size:
            inst.query("ACQ:POIN %d;FORM REAL,32;*TRG;*OPC?" % (size // 4))
        message = 2 + len(str(size)) + size + 1
        seconds = []
        for _ in range(reps):
            t0 = time.perf_counter()
            if case == "opc":
                ok = inst.query("*OPC?") == "1"
            elif case == "mem":
                inst.write("CHAN1:DATA?")
                ok = len(inst.read_bytes(message)) == message
            else:
                sys.exit("transfer_pyvisa.py: no case " + case)
            seconds.append(time.perf_counter() - t0)
            if not ok:
                sys.exit("transfer_pyvisa.py: %s gave a wrong reply" % case)
        report(seconds)
    finally:
        inst.close()
        rm.close()


if __name__ == "__main__":
    main()
