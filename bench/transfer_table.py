#!/usr/bin/python3
"""Side-by-side transfer benchmark: our VISA library against pyvisa-py and
liblxi, on a minimal raw-socket server, an independent VXI-11 server and
benchsim, with a plain C recv loop as the limit; our HiSLIP transport against
our raw socket on the same servers (the minimal one speaks both), and
against an independent HiSLIP server. Prints one Markdown table.

Run it through scripts/bench-transfers.sh, which builds everything and, where
allowed, runs this inside a private network namespace so the VXI-11 peers can
find the server through a portmapper on port 111.

Each client runs in its own process and prints the time of every repetition;
the clients of one server take turns over several rounds, so a change in the
machine's load hits them alike. The first tenth of each run (at least the
first repetition) is warm-up and left out; a figure is the median of the rest.
"""
import argparse
import json
import os
import re
import select
import subprocess
import sys
import time

# "Allocator tuned to keep freed memory": big blocks stay on the heap instead
# of being mapped and unmapped per read, and the heap is never trimmed.
TUNED_HEAP = "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=1073741824"

SMALL = 80000         # an 80 kB block: 20000 float32 points
LARGE = 20000000      # a 20 MB block: 5 million points
PYTHON = "/usr/bin/python3"  # Debian's, where python3-pyvisa-py is installed


class Failure(Exception):
    pass


def environment(tuned):
    env = dict(os.environ)
    env.pop("GLIBC_TUNABLES", None)
    if tuned:
        env["GLIBC_TUNABLES"] = TUNED_HEAP
    return env


# Where a process runs decides much of a small exchange's time on a virtual
# machine: waking a process on the other CPU costs far more than on the same
# one, and the scheduler picks either. Servers go to the first CPU and
# clients to the last, so every client of a row pays the same wake-ups.
CPUS = sorted(os.sched_getaffinity(0))


def pinned(cpu):
    return lambda: os.sched_setaffinity(0, {cpu})


class Server:
    """A server process that prints a ready line, stopped at the end. Servers
    always run with the tuned heap: a row that says "default heap" is about
    the client."""

    def __init__(self, cmd, ready):
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=environment(True), preexec_fn=pinned(CPUS[0]))
        self.match = None
        self.text = ""  # everything it printed up to the ready line
        fd = (self.proc.stdout if ready[0] == "stdout" else self.proc.stderr).fileno()
        deadline = time.monotonic() + 20
        # Raw reads: a buffered reader could hold the ready line where select cannot see it.
        while time.monotonic() < deadline:
            if not select.select([fd], [], [], max(0, deadline - time.monotonic()))[0]:
                break
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            self.text += chunk.decode("latin-1")
            self.match = re.search(ready[1], self.text)
            if self.match:
                return
        self.stop()
        raise Failure("%s did not start" % os.path.basename(cmd[0]))

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Results:
    def __init__(self):
        self.samples = {}
        self.failed = {}

    def run(self, key, cmd, tuned=True, warmup=True):
        try:
            out = subprocess.run(cmd, capture_output=True, text=True, env=environment(tuned), timeout=300,
                                 preexec_fn=pinned(CPUS[-1]))
        except subprocess.TimeoutExpired:
            self.failed[key] = "no answer in 300 s"
            return
        if out.returncode != 0:
            self.failed[key] = (out.stderr.strip().splitlines() or ["exit %d" % out.returncode])[-1]
            return
        seconds = json.loads(out.stdout.strip().splitlines()[-1])["samples"]
        skip = max(1, len(seconds) // 10) if warmup and len(seconds) > 1 else 0
        self.samples.setdefault(key, []).extend(seconds[skip:])

    def slowest(self, key):
        t = self.samples.get(key, [])
        return max(t) if t and key not in self.failed else None

    def median(self, key):
        t = sorted(self.samples.get(key, []))
        if not t or key in self.failed:
            return None
        n = len(t)
        return t[n // 2] if n % 2 else (t[n // 2 - 1] + t[n // 2]) / 2


def take_turns(results, jobs, rounds):
    for _ in range(rounds):
        for key, cmd, tuned in jobs:
            if key not in results.failed:
                results.run(key, cmd, tuned)


def socket_jobs(b, port, work, reps):
    rsrc = "TCPIP::127.0.0.1::%d::SOCKET" % port
    ours, loop, pyv = b["transfer_ours"], b["transfer_recvloop"], [PYTHON, b["transfer_pyvisa.py"]]
    trace = os.path.join(work, "Trace.tmp")
    jobs = []
    for size, name, n in ((0, "opc", reps["opc"]), (SMALL, "small", reps["small"]), (LARGE, "large", reps["large"])):
        case = "opc" if size == 0 else "mem"
        jobs += [
            ("socket.%s.limit" % name, [loop, "127.0.0.1", str(port), case, str(size), str(n)], True),
            ("socket.%s.ours" % name, [ours, rsrc, case, str(size), str(n)], True),
            ("socket.%s.pyvisa" % name, pyv + [rsrc, case, str(size), str(max(2, n // reps["slow"]))], True),
        ]
        if size:
            jobs.append(("socket.%s.file" % name, [ours, rsrc, "file", str(size), str(n), trace], True))
    return jobs


def hislip_jobs(b, key, rsrc, work, reps, curv=False, cases=("opc", "small", "large")):
    """Our client's cases over one resource: *OPC?, the 80 kB block the
    application's way (header, digits, viReadToFile) and to memory, the
    20 MB block to memory. key.<case> names the results."""
    ours = [b["transfer_ours"]] + (["--curv"] if curv else [])
    trace = os.path.join(work, "Trace.tmp")
    jobs = []
    if "opc" in cases:
        jobs.append(("%s.opc" % key, ours + [rsrc, "opc", "0", str(reps["opc"])], True))
    if "small" in cases:
        jobs.append(("%s.small" % key, ours + [rsrc, "mem", str(SMALL), str(reps["small"])], True))
        jobs.append(("%s.file" % key, ours + [rsrc, "file", str(SMALL), str(reps["small"]), trace], True))
    if "large" in cases:
        jobs.append(("%s.large" % key, ours + [rsrc, "mem", str(LARGE), str(reps["large"])], True))
    return jobs


def vxi11_jobs(b, rsrc, peers, work, reps, all_peers):
    ours, pyv = b["transfer_ours"], [PYTHON, b["transfer_pyvisa.py"]]
    trace = os.path.join(work, "Trace.tmp")
    jobs = []
    for size, name, n in ((0, "opc", reps["opc"]), (SMALL, "small", reps["small"]), (LARGE, "large", reps["large"])):
        case = "opc" if size == 0 else "mem"
        jobs.append(("vxi11.%s.ours" % name, [ours, rsrc, case, str(size), str(n)], True))
        if size:
            jobs.append(("vxi11.%s.default" % name, [ours, rsrc, case, str(size), str(n)], False))
        if size == SMALL:
            jobs.append(("vxi11.small.file", [ours, rsrc, "file", str(size), str(n), trace], True))
        if peers and b.get("transfer_lxi"):
            jobs.append(("vxi11.%s.lxi" % name, [b["transfer_lxi"], "127.0.0.1", case, str(size), str(n)], True))
        # pyvisa-py asks for 20 KiB per device_read: a 20 MB block takes it seconds.
        if peers and (size != LARGE or all_peers):
            count = max(2, n // reps["slow"]) if size != LARGE else 2
            jobs.append(("vxi11.%s.pyvisa" % name, pyv + ["TCPIP::127.0.0.1::INSTR", case, str(size), str(count)], True))
    return jobs


class BusyCpus:
    """A busy loop on every CPU, so that a waiting client is woken on a
    machine with no idle CPU, as on a loaded two-core PC."""

    def __init__(self):
        self.procs = [subprocess.Popen([PYTHON, "-c", "while True: pass"], preexec_fn=pinned(cpu))
                      for cpu in CPUS]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            p.kill()
            p.wait()


def silent_jobs(b, port, reps):
    """Run once, not in rounds: every repetition counts, the first too."""
    rsrc = "TCPIP::127.0.0.1,%d::INSTR" % port
    return [("vxi11.silent", [b["transfer_ours"], rsrc, "silent", "0", str(reps["silent"])])]


def benchsim_jobs(b, port, rsrc, reps, hislip_rsrc, work):
    loop = b["transfer_recvloop"]
    jobs = [
        ("benchsim.socket", [loop, "127.0.0.1", str(port), "mem", str(LARGE), str(reps["large"])], True),
        ("benchsim.vxi11", [b["transfer_ours"], rsrc, "mem", str(LARGE), str(reps["large"])], True),
        ("benchsim.trg", [loop, "127.0.0.1", str(port), "trg", str(LARGE), str(reps["trg"])], True),
        ("benchsim.trgread", [loop, "127.0.0.1", str(port), "trgread", str(LARGE), str(reps["trg"])], True),
    ]
    if hislip_rsrc:
        # Our client on both of the simulator's transports, in turns.
        jobs += hislip_jobs(b, "benchsim.sock", "TCPIP::127.0.0.1::%d::SOCKET" % port, work, reps)
        jobs += hislip_jobs(b, "benchsim.hislip", hislip_rsrc, work, reps)
    return jobs


# ---------------------------------------------------------------- the table

PEER_NAMES = {"pyvisa": "pyvisa-py", "lxi": "liblxi"}


def fmt_time(s):
    if s >= 1:
        return "%.3g s" % s
    if s >= 1e-3:
        return "%.3g ms" % (s * 1e3)
    return "%.3g us" % (s * 1e6)


def fmt_rate(r):
    if r >= 1e9:
        return "%.3g GB/s" % (r / 1e9)
    return "%.3g MB/s" % (r / 1e6)


class Row:
    """slowest: the row shows the slowest repetition instead of the median."""

    def __init__(self, what, kind, ours, peers=(), limit=None, goal="", met=None, size=LARGE, slowest=False):
        self.what, self.kind, self.ours, self.peers, self.limit = what, kind, ours, peers, limit
        self.goal, self.met, self.size, self.slowest = goal, met, size, slowest


def render(results, rows, notes):
    def value(key, size):
        t = results.median(key) if key else None
        if t is None:
            return None
        return t if size == 0 else size / t  # rows are times (size 0) or rates

    def shown(v, kind):
        return "-" if v is None else (fmt_time(v) if kind == "time" else fmt_rate(v))

    def ratio(a, b):
        if a is None or b is None:
            return "-"
        return ("%.2fx" if a / b >= 0.1 else "%.2gx") % (a / b)

    lines = ["| what | ours | best peer | limit | ours / peer | ours / limit | goal | met |",
             "|---|---|---|---|---|---|---|---|"]
    for r in rows:
        size = 0 if r.kind == "time" else r.size
        ours = results.slowest(r.ours) if r.slowest else value(r.ours, size)
        peer_vals = [(p, value(k, size)) for p, k in r.peers]
        peer_vals = [(p, v) for p, v in peer_vals if v is not None]
        best = None
        if peer_vals:
            best = (min if r.kind == "time" else max)(peer_vals, key=lambda pv: pv[1])
        limit = value(r.limit, size)
        if ours is None and r.ours in results.failed:
            ours_text = "failed"
        else:
            ours_text = shown(ours, r.kind)
        met = "-"
        if ours is not None and r.met is not None:
            verdict = r.met(ours, best[1] if best else None, limit, value)
            met = "-" if verdict is None else ("met" if verdict else "**not met**")
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
            r.what, ours_text, "-" if best is None else "%s %s" % (PEER_NAMES[best[0]], shown(best[1], r.kind)),
            shown(limit, r.kind), ratio(ours, best[1] if best else None), ratio(ours, limit), r.goal, met))
    for key, why in sorted(results.failed.items()):
        notes.append("%s failed: %s" % (key, why))
    every = ", ".join("%s %s (n=%d)" % (key, fmt_time(results.median(key)), len(results.samples[key]))
                      for key in sorted(results.samples) if results.median(key) is not None)
    notes.append("every client's median time per repetition: " + every)
    return "\n".join(lines) + "\n\n" + "\n".join("- " + n for n in notes)


def table_rows():
    return [
        Row("SOCKET `*OPC?` round trip, minimal server", "time", "socket.opc.ours",
            (("pyvisa", "socket.opc.pyvisa"),), "socket.opc.limit", "<= 1.05x limit",
            lambda o, p, l, v: None if l is None else o <= 1.05 * l),
        Row("SOCKET 80 kB block, viRead to memory", "time", "socket.small.ours",
            (("pyvisa", "socket.small.pyvisa"),), "socket.small.limit", "<= 1.15x limit",
            lambda o, p, l, v: None if l is None else o <= 1.15 * l),
        Row("SOCKET 80 kB block, **viReadToFile** (the application's path, through \"Trace.tmp\")", "time",
            "socket.small.file", (), None, "<= 2x viRead to memory",
            lambda o, p, l, v: None if v("socket.small.ours", 0) is None else o <= 2 * v("socket.small.ours", 0)),
        Row("SOCKET 20 MB block, viRead to memory", "rate", "socket.large.ours",
            (("pyvisa", "socket.large.pyvisa"),), "socket.large.limit", ">= 0.85x limit",
            lambda o, p, l, v: None if l is None else o >= 0.85 * l),
        Row("SOCKET 20 MB block, viReadToFile", "rate", "socket.large.file", (), "socket.large.limit",
            ">= 0.7x limit", lambda o, p, l, v: None if l is None else o >= 0.7 * l),
        Row("VXI-11 `*OPC?`, independent server", "time", "vxi11.opc.ours",
            (("lxi", "vxi11.opc.lxi"), ("pyvisa", "vxi11.opc.pyvisa")), None, "<= liblxi",
            lambda o, p, l, v: None if v("vxi11.opc.lxi", 0) is None else o <= v("vxi11.opc.lxi", 0)),
        Row("VXI-11 80 kB block, independent server", "time", "vxi11.small.ours",
            (("lxi", "vxi11.small.lxi"), ("pyvisa", "vxi11.small.pyvisa")), None, "<= liblxi",
            lambda o, p, l, v: None if v("vxi11.small.lxi", 0) is None else o <= v("vxi11.small.lxi", 0)),
        Row("VXI-11 80 kB block, **the application's path** (header, count digits, viReadToFile through "
            "\"Trace.tmp\"), independent server, against the peers' single read to memory", "time",
            "vxi11.small.file", (("lxi", "vxi11.small.lxi"), ("pyvisa", "vxi11.small.pyvisa")), None,
            "<= 1.1x liblxi",
            lambda o, p, l, v: None if v("vxi11.small.lxi", 0) is None else o <= 1.1 * v("vxi11.small.lxi", 0)),
        Row("VXI-11 20 MB block, independent server", "rate", "vxi11.large.ours",
            (("lxi", "vxi11.large.lxi"), ("pyvisa", "vxi11.large.pyvisa")), None, ">= 1.2x liblxi",
            lambda o, p, l, v: None if v("vxi11.large.lxi", LARGE) is None else o >= 1.2 * v("vxi11.large.lxi", LARGE)),
        Row("VXI-11 80 kB block, glibc's default heap (no tuning)", "time", "vxi11.small.default", (), None,
            "<= 1.2x the tuned 80 kB row",
            lambda o, p, l, v: None if v("vxi11.small.ours", 0) is None else o <= 1.2 * v("vxi11.small.ours", 0)),
        Row("VXI-11 20 MB block, glibc's default heap (no tuning)", "rate", "vxi11.large.default", (), None,
            ">= the tuned 20 MB row / 1.2",
            lambda o, p, l, v: None if v("vxi11.large.ours", LARGE) is None else o * 1.2 >= v("vxi11.large.ours", LARGE)),
        Row("HiSLIP `*OPC?`, minimal server (limit: SOCKET, same server)", "time", "hislip.min.opc", (),
            "socket.opc.ours", "<= 1.1x SOCKET", lambda o, p, l, v: None if l is None else o <= 1.1 * l),
        Row("HiSLIP 80 kB block, viRead to memory, minimal server (limit: SOCKET)", "time", "hislip.min.small", (),
            "socket.small.ours", "<= 1.1x SOCKET", lambda o, p, l, v: None if l is None else o <= 1.1 * l),
        Row("HiSLIP 80 kB block, **viReadToFile**, minimal server (limit: SOCKET)", "time", "hislip.min.file", (),
            "socket.small.file", "<= 1.1x SOCKET", lambda o, p, l, v: None if l is None else o <= 1.1 * l),
        Row("HiSLIP 20 MB block, viRead to memory, minimal server (limit: SOCKET)", "rate", "hislip.min.large", (),
            "socket.large.ours", ">= 0.8x SOCKET", lambda o, p, l, v: None if l is None else o >= 0.8 * l),
        Row("HiSLIP `*OPC?`, independent server (hislip-ref, Python)", "time", "hislip.ref.opc", (), None, "", None),
        Row("HiSLIP 80 kB block, **viReadToFile**, hislip-ref", "time", "hislip.ref.file", (), None, "", None),
        Row("HiSLIP 20 MB block, viRead to memory, hislip-ref", "rate", "hislip.ref.large", (), None, "", None),
        Row("HiSLIP `*OPC?`, benchsim (limit: our SOCKET on benchsim)", "time", "benchsim.hislip.opc", (),
            "benchsim.sock.opc", "<= 1.1x SOCKET", lambda o, p, l, v: None if l is None else o <= 1.1 * l),
        Row("HiSLIP 80 kB block, **viReadToFile**, benchsim (limit: SOCKET)", "time", "benchsim.hislip.file", (),
            "benchsim.sock.file", "<= 1.1x SOCKET", lambda o, p, l, v: None if l is None else o <= 1.1 * l),
        Row("HiSLIP 20 MB block, benchsim (limit: SOCKET)", "rate", "benchsim.hislip.large", (),
            "benchsim.sock.large", ">= 0.8x SOCKET", lambda o, p, l, v: None if l is None else o >= 0.8 * l),
        Row("VXI-11 device_read never answered, 2000 ms time-out, every CPU busy: the **slowest** read", "time",
            "vxi11.silent", (), None, "<= 3.0 s, every repetition", lambda o, p, l, v: o <= 3.0, slowest=True),
        Row("benchsim as a server: SOCKET 20 MB to the plain C client", "rate", "benchsim.socket", (),
            "socket.large.limit", ">= 2 GB/s", lambda o, p, l, v: o >= 2e9),
        Row("benchsim as a server: VXI-11 20 MB to our client", "rate", "benchsim.vxi11", (), None, ">= 1 GB/s",
            lambda o, p, l, v: o >= 1e9),
        Row("benchsim: a 5-million-point acquisition set up (`*TRG;*OPC?`)", "time", "benchsim.trg", (), None,
            "< 100 ms", lambda o, p, l, v: o < 0.1),
        Row("benchsim: the same and its first `CHAN1:DATA?` (20 MB) read whole", "time", "benchsim.trgread", (),
            None, "< 100 ms", lambda o, p, l, v: o < 0.1),
    ]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bin", required=True, help="build folder with bench/ and sim/ programs")
    ap.add_argument("--vxi11-ref", default="", help="the built independent VXI-11 server, if any")
    ap.add_argument("--vxi11-ref-missing", default="", help="why there is none (printed under the table)")
    ap.add_argument("--hislip-ref", default="", help="the independent HiSLIP server's hislip_server.py, if any")
    ap.add_argument("--work", required=True, help="folder for the trace file (on disk, as the application's)")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--quick", action="store_true", help="a tenth of the repetitions, for trying things out")
    ap.add_argument("--all-peers", action="store_true",
                    help="also time pyvisa-py on the 20 MB VXI-11 block (seconds per block)")
    args = ap.parse_args()

    here = os.path.dirname(os.path.abspath(__file__))
    b = {name: os.path.join(args.bin, "bench", name)
         for name in ("transfer_minserver", "transfer_recvloop", "transfer_ours", "transfer_lxi")}
    b["transfer_pyvisa.py"] = os.path.join(here, "transfer_pyvisa.py")
    b["transfer_silentcore.py"] = os.path.join(here, "transfer_silentcore.py")
    b["benchsim"] = os.path.join(args.bin, "sim", "quenvia-benchsim")
    if not os.path.exists(b["transfer_lxi"]):
        b["transfer_lxi"] = None
    os.makedirs(args.work, exist_ok=True)

    # Repetitions per round; pyvisa-py gets a "slow"-th of them.
    reps = {"opc": 1000, "small": 300, "large": 12, "trg": 4, "slow": 3, "silent": 20}
    if args.quick:
        reps = {k: (max(3, v // 10) if k not in ("slow", "silent") else v) for k, v in reps.items()}
        reps["silent"] = 5
    in_netns = os.environ.get("QUENVIA_IN_NETNS") == "1"
    results = Results()
    notes = []
    started = time.monotonic()

    def phase(cmd, ready, jobs_for):
        """Runs the jobs of one server; a server that does not start is a note."""
        try:
            with Server(cmd, ready) as s:
                take_turns(results, jobs_for(s), args.rounds)
        except Failure as e:
            notes.append(str(e))

    # The minimal server twice, raw socket and HiSLIP, their clients in
    # turns: our two transports against the same server program.
    try:
        with Server([b["transfer_minserver"], "-B", str(2 * LARGE)], ("stdout", r"port=(\d+)\n")) as raw, \
                Server([b["transfer_minserver"], "-H", "-B", str(2 * LARGE)], ("stdout", r"port=(\d+)\n")) as hs:
            rsrc = "TCPIP::127.0.0.1::hislip0,%s::INSTR" % hs.match.group(1)
            take_turns(results, socket_jobs(b, int(raw.match.group(1)), args.work, reps)
                       + hislip_jobs(b, "hislip.min", rsrc, args.work, reps), args.rounds)
    except Failure as e:
        notes.append(str(e))

    if args.hislip_ref:
        # Python: its figures are mostly the server's; they show the client
        # works at speed with a server it was not written with.
        phase([PYTHON, args.hislip_ref, "--port", "0", "--stdin-eof"], ("stdout", r"port=(\d+)\n"),
              lambda s: hislip_jobs(b, "hislip.ref", "TCPIP::127.0.0.1::hislip0,%s::INSTR" % s.match.group(1),
                                    args.work, reps, curv=True, cases=("opc", "small", "large")))
    else:
        notes.append("no HiSLIP rows against the independent server: its hislip_server.py was not given")

    if args.vxi11_ref:
        # With its own portmapper on port 111 inside the namespace, so that
        # liblxi and pyvisa-py find it as they would find an instrument.
        def vxi11(s):
            rsrc = ("TCPIP::127.0.0.1::INSTR" if in_netns
                    else "TCPIP::127.0.0.1,%s::inst0::INSTR" % s.match.group(1))
            return vxi11_jobs(b, rsrc, in_netns, args.work, reps, args.all_peers)
        phase([args.vxi11_ref, "-B", str(LARGE)] + (["-P"] if in_netns else []),
              ("stderr", r"core port (\d+),"), vxi11)
        if not in_netns:
            notes.append("not in a network namespace: no portmapper on port 111, so liblxi and pyvisa-py "
                         "were not timed on VXI-11")
        if not args.all_peers:
            notes.append("pyvisa-py is not timed on the 20 MB VXI-11 block (20 KiB per call: seconds per "
                         "block); --all-peers adds it")
    else:
        notes.append("no VXI-11 rows against the independent server: " + (args.vxi11_ref_missing or "not given"))
    if not b["transfer_lxi"]:
        notes.append("transfer_lxi was not built (Debian package liblxi-dev missing)")

    # An instrument that never answers a read: 3 s a repetition, each counted.
    try:
        with Server([PYTHON, b["transfer_silentcore.py"]], ("stdout", r"port=(\d+)\n")) as s, BusyCpus():
            for key, cmd in silent_jobs(b, int(s.match.group(1)), reps):
                results.run(key, cmd, warmup=False)
    except Failure as e:
        notes.append(str(e))


    # benchsim prints its raw-socket line first, then the VXI-11 one, then
    # (where it serves HiSLIP) the HiSLIP one.
    help_text = subprocess.run([b["benchsim"], "--help"], capture_output=True, text=True).stdout
    sim_hislip = "--hislip" in help_text
    if not sim_hislip:
        notes.append("benchsim does not serve HiSLIP yet: no HiSLIP rows against it")

    def sim(s):
        port = re.search(r"osc=TCPIP::127\.0\.0\.1::(\d+)::SOCKET", s.text)
        vxi = re.search(r"benchsim vxi11 osc=(\S+) ", s.text)
        hs = re.search(r"benchsim hislip osc=(\S+) ", s.text)
        return benchsim_jobs(b, int(port.group(1)), vxi.group(1), reps, hs.group(1) if hs else None, args.work)
    phase([b["benchsim"], "--stdin-eof", "--vxi11-direct"] + (["--hislip"] if sim_hislip else []),
          ("stdout", r"benchsim hislip osc=(\S+) " if sim_hislip else r"benchsim vxi11 osc=(\S+) "), sim)

    notes.insert(0, "medians over %d rounds, loopback, %d cores; %.0f s in all; servers and clients with "
                 "GLIBC_TUNABLES=%s unless the row says otherwise (then the client runs without)"
                 % (args.rounds, os.cpu_count(), time.monotonic() - started, TUNED_HEAP))
    notes.insert(1, "servers run on CPU %d, clients on CPU %d" % (CPUS[0], CPUS[-1]))
    notes.insert(2, "ratios compare the figures as shown: for times below 1 is faster, for rates above 1")
    print(render(results, table_rows(), notes))
    return 0


if __name__ == "__main__":
    sys.exit(main())
