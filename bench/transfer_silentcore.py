#!/usr/bin/python3
"""A VXI-11 core channel whose instrument never answers device_read: links,
writes and destroy_link are answered at once, a device_read never is. The
transfer benchmark times how long a client's read takes to give up (its
time-out plus whatever margin it allows the reply); what this server does
costs the client nothing while it waits.

Usage: transfer_silentcore.py
Listens on 127.0.0.1 (a free port), prints "transfer_silentcore port=<port>"
and serves connections until stdin ends.
"""
import os
import select
import socket
import struct
import sys
import threading

CREATE_LINK, DEVICE_WRITE, DEVICE_READ = 10, 11, 12
MAX_RECORD = 1 << 24


def reply(xid, results):
    # Accepted, AUTH_NONE verifier, SUCCESS, then the results.
    body = struct.pack(">IIIIII", xid, 1, 0, 0, 0, 0) + results
    return struct.pack(">I", 0x80000000 | len(body)) + body


def records(conn):
    """Yields whole records; ends when the client goes or sends one too large."""
    data = b""
    record = b""
    while True:
        while len(data) < 4:
            chunk = conn.recv(65536)
            if not chunk:
                return
            data += chunk
        mark = struct.unpack(">I", data[:4])[0]
        length = mark & 0x7FFFFFFF
        if len(record) + length > MAX_RECORD:
            return
        while len(data) < 4 + length:
            chunk = conn.recv(65536)
            if not chunk:
                return
            data += chunk
        record += data[4:4 + length]
        data = data[4 + length:]
        if mark & 0x80000000:
            yield record
            record = b""


def serve(conn):
    with conn:
        for rec in records(conn):
            if len(rec) < 40:
                return
            xid, _, _, _, _, proc = struct.unpack(">IIIIII", rec[:24])
            cred_len = struct.unpack(">I", rec[28:32])[0]
            args = rec[32 + ((cred_len + 3) & ~3) + 8:]
            if proc == DEVICE_READ:
                continue  # never answered
            if proc == CREATE_LINK:
                results = struct.pack(">IIII", 0, 1, 0, 1 << 20)  # error, lid, abort port, maxRecvSize
            elif proc == DEVICE_WRITE and len(args) >= 20:
                results = struct.pack(">II", 0, struct.unpack(">I", args[16:20])[0])  # error, size taken
            else:
                results = struct.pack(">I", 0)
            conn.sendall(reply(xid, results))


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("transfer_silentcore port=%d" % listener.getsockname()[1], flush=True)
    while True:
        ready = select.select([listener, sys.stdin], [], [])[0]
        if sys.stdin in ready and not os.read(sys.stdin.fileno(), 4096):
            return 0
        if listener in ready:
            conn, _ = listener.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
