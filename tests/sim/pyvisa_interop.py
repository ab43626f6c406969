#!/usr/bin/python3
"""benchsim against an independent client: pyvisa with the pyvisa-py backend.

Usage: pyvisa_interop.py <path to quenvia-benchsim>
Checks the ready line, *IDN?, *OPC?, a 20000-point CHAN1:DATA? block read
with query_binary_values (and the same record in ASCII), the analyzer trace,
a swallowed reply as a time-out, the JSON-lines command log, and that the
program stops on end of stdin and on SIGTERM.
"""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile

try:
    import pyvisa
except ImportError:
    print("pyvisa not installed; skipping")
    sys.exit(77)

READY = re.compile(r"^benchsim ready osc=(TCPIP::127\.0\.0\.1::\d+::SOCKET) "
                   r"sa=(TCPIP::127\.0\.0\.1::\d+::SOCKET) va=(TCPIP::127\.0\.0\.1::\d+::SOCKET)\n$")


def start(benchsim, *args):
    proc = subprocess.Popen([benchsim, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    m = READY.match(line)
    if not m:
        proc.kill()
        raise AssertionError("no ready line: %r %r" % (line, proc.stderr.read()))
    return proc, m.groups()


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def open_instr(rm, resource, timeout_ms=2000):
    inst = rm.open_resource(resource, read_termination="\n", write_termination="\n")
    inst.timeout = timeout_ms
    return inst


def first_rise(values, threshold):
    return next(i for i, v in enumerate(values) if v - values[0] > threshold)


def interop(benchsim, tmp):
    log_path = os.path.join(tmp, "log.jsonl")
    proc, (osc_res, sa_res, va_res) = start(
        benchsim, "--osc-type", "Benlo", "--points", "20000", "--src2rf", "40", "--src2snk", "120",
        "--seed", "3", "--log", log_path, "--stdin-eof", "--fault", "va:NoReply:READ:AVDA:TTV:STAT?")
    rm = pyvisa.ResourceManager("@py")
    try:
        osc = open_instr(rm, osc_res)
        check(osc.query("*IDN?").startswith("Benlo,"), "oscilloscope identity")
        check(osc.query("*OPC?") == "1", "*OPC? answers 1")
        check(osc.query("FORM REAL,32;*TRG;*OPC?") == "1", "trigger")
        data = osc.query_binary_values("CHAN1:DATA?", datatype="f", is_big_endian=False, container=list)
        check(len(data) == 20000, "20000 samples, got %d" % len(data))
        # Benlo axis: (j*1.2)/(N-1) - 0.6, so the trigger (t = 0) is the first sample of the second half.
        edge = first_rise(data, 0.035)
        check(edge == 10000, "source edge at 10000, got %d" % edge)
        check(all(-0.05 < v < 0.05 for v in data[:edge]), "base near 0 V")
        check(all(0.1 < v < 0.2 for v in data[edge:]), "step near 0.15 V")
        check(osc.query("FORM ASC;*OPC?") == "1", "ASCII format")
        text = osc.query_ascii_values("CHAN1:DATA?")
        check(len(text) == 20000 and max(abs(a - b) for a, b in zip(text, data)) < 1e-6,
              "ASCII record equals the binary one")

        sa = open_instr(rm, sa_res)
        sa.write("FORM REAL,32")
        trace = sa.query_binary_values("TRAC? TRACE1, 20000", datatype="f", container=list)
        check(len(trace) == 20000, "analyzer trace length")
        check(min(trace) < -75 and max(trace) > -25, "floor and burst levels")

        va = open_instr(rm, va_res, timeout_ms=500)
        try:
            va.query("READ:AVDA:TTV:STAT?")
            raise AssertionError("a swallowed reply must time out")
        except pyvisa.errors.VisaIOError as e:
            check(e.error_code == pyvisa.constants.StatusCode.error_timeout, "time-out status")
        check(va.query("READ:AVDA:TTV:COUN?") == "10", "next query after a time-out")
        for inst in (osc, sa, va):
            inst.close()
    finally:
        rm.close()
        proc.stdin.close()
        code = proc.wait(timeout=10)
    check(code == 0, "exit code on end of stdin: %d" % code)

    with open(log_path) as f:
        entries = [json.loads(line) for line in f]
    osc_cmds = [e["command"] for e in entries if e["instrument"] == "osc"]
    check(osc_cmds == ["*IDN?", "*OPC?", "FORM REAL,32;*TRG;*OPC?", "CHAN1:DATA?", "FORM ASC;*OPC?", "CHAN1:DATA?"],
          "oscilloscope log %r" % osc_cmds)
    block = entries[[e["command"] for e in entries].index("CHAN1:DATA?")]
    check(block["replySize"] == 7 + 80000 + 1 and block["reply"].startswith("#580000"), "block entry")
    stat = [e for e in entries if e["command"] == "READ:AVDA:TTV:STAT?"][0]
    check(stat["fault"] == "NoReply" and stat["reply"] == "", "fault in the log")


def signals_and_errors(benchsim):
    proc, _ = start(benchsim)
    proc.send_signal(signal.SIGTERM)
    check(proc.wait(timeout=10) == 0, "exit code on SIGTERM")
    proc.stdin.close()
    proc, _ = start(benchsim, "--osc-type", "Orvix")
    proc.send_signal(signal.SIGINT)
    check(proc.wait(timeout=10) == 0, "exit code on SIGINT")
    proc.stdin.close()
    bad = subprocess.run([benchsim, "--osc-type", "Tek"], capture_output=True, text=True, timeout=10)
    check(bad.returncode == 2 and bad.stdout == "" and "oscType" in bad.stderr, "bad option rejected")
    for args in (["--fault", "osc:Explode:X"], ["--seed", "-1"], ["--osc-port", "70000"], ["--points", "1.5"],
                 ["--scenario", "/nonexistent/scenario.json"]):
        bad = subprocess.run([benchsim, *args], capture_output=True, text=True, timeout=10)
        check(bad.returncode == 2 and bad.stdout == "" and bad.stderr.startswith("quenvia-benchsim: "),
              "rejected: %r" % args)


def main():
    benchsim = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        interop(benchsim, tmp)
    signals_and_errors(benchsim)
    print("pyvisa interop: ok")


if __name__ == "__main__":
    main()
