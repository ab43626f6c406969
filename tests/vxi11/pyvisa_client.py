#!/usr/bin/python3
"""pyvisa with the pyvisa-py backend against the simulator's VXI-11 server.

Usage: pyvisa_client.py <resource>. Prints one JSON object: the identity,
a 20000-point float block check, the VISA statuses of three reads and the
mean times of a *OPC? round trip and of a block read.
"""
import json
import sys
import time

import pyvisa
from pyvisa import errors


def status_of(read):
    try:
        _, status = read()
        return int(status)
    except errors.VisaIOError as e:
        return int(e.error_code)


def main():
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(sys.argv[1])
    inst.timeout = 5000
    lib = rm.visalib
    out = {"idn": inst.query("*IDN?").strip()}

    values = inst.query_binary_values("FLOATS? 20000", datatype="f", is_big_endian=False, container=list)
    out["points"] = len(values)
    out["valuesOk"] = all(v == i * 0.5 for i, v in enumerate(values))

    inst.write_raw(b"*IDN?\n")
    out["shortRead"] = status_of(lambda: lib.read(inst.session, 2))
    lib.read(inst.session, 1000)
    inst.write_raw(b"*IDN?\n")
    out["readToEnd"] = status_of(lambda: lib.read(inst.session, 1000))
    inst.timeout = 500
    inst.write_raw(b"SILENT?\n")
    out["nothingToRead"] = status_of(lambda: lib.read(inst.session, 1000))
    inst.timeout = 5000

    n = 50
    t = time.perf_counter()
    for _ in range(n):
        inst.query("*OPC?")
    out["opcMs"] = (time.perf_counter() - t) * 1000 / n
    n = 10
    t = time.perf_counter()
    for _ in range(n):
        inst.query_binary_values("FLOATS? 20000", datatype="f", is_big_endian=False)
    out["blockMs"] = (time.perf_counter() - t) * 1000 / n

    inst.close()
    rm.close()
    print(json.dumps(out))


if __name__ == "__main__":
    main()
