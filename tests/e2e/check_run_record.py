#!/usr/bin/env python3
"""Independent reader of a run's record (JSON), delay table (CSV) and results
file: nothing but Python's standard library, no code of the application.

    check_run_record.py TRUTH.json RUN-RECORD.md

TRUTH.json is written by tst_measrun: what the simulated bench played (every
acquisition's truth), what the test set up, and where the run's files are.
Every field of the record is checked against it, the statistics are worked
out again here, the CSV and the results file must agree with the record, and
every member of the record must be documented in RUN-RECORD.md. Prints each
mismatch; exit status 1 when there is any.
"""

import array
import csv
import datetime
import json
import math
import os
import re
import statistics
import sys

# Two-sided 95 % critical values of Student's t, from a printed table.
T975 = {1: 12.7062, 2: 4.3027, 3: 3.1824, 4: 2.7764, 5: 2.5706, 6: 2.4469, 7: 2.3646, 8: 2.3060, 9: 2.2622}

PATHS = ("src2Rf", "src2Hd", "src2Snk")
# Members a documented record may have that this run's record does not.
OPTIONAL = {
    "measurements[].missing.src2Hd",
    "measurements[].missing.src2Snk",
    "measurements[].videoAnalyzer",
    "measurements[].traceFiles",
}

problems = []


def check(ok, what):
    if not ok:
        problems.append(what)
    return ok


def near(a, b, tol):
    return a is not None and b is not None and abs(a - b) <= tol


def no_constants(name):
    raise ValueError("not JSON: " + name)


def when(text):
    return datetime.datetime.fromisoformat(text)


def member_paths(value, prefix=""):
    """Every leaf member as a dotted path, array elements as "[]"."""
    if isinstance(value, dict):
        out = set()
        for key, sub in value.items():
            out |= member_paths(sub, prefix + "." + key if prefix else key)
        return out
    if isinstance(value, list) and not value:
        return set()
    if isinstance(value, list) and all(isinstance(v, dict) for v in value):
        out = set()
        for sub in value:
            out |= member_paths(sub, prefix + "[]")
        return out
    return {prefix}


def documented_paths(doc_path):
    paths = set()
    with open(doc_path, encoding="utf-8") as f:
        in_csv = False
        for line in f:
            if line.startswith("## Delays.csv"):
                in_csv = True
            m = re.match(r"\|\s*`([^`]+)`\s*\|", line)
            if m and not in_csv:
                for path in PATHS:
                    paths.add(m.group(1).replace("<path>", path))
    return paths


def percentile(values, p):
    """Linear interpolation between the closest ranks (PERCENTILE.INC)."""
    rank = p / 100 * (len(values) - 1)
    below = math.floor(rank)
    if below >= len(values) - 1:
        return values[-1]
    return values[below] + (rank - below) * (values[below + 1] - values[below])


def check_statistics(name, got, values, measured):
    check(got["measured"] == measured, f"statistics.{name}.measured")
    present = sorted(v for v in values if v is not None)
    check(got["n"] == len(present), f"statistics.{name}.n {got['n']} != {len(present)}")
    check(got["missing"] == len(values) - len(present), f"statistics.{name}.missing")
    n = len(present)
    mean = statistics.fmean(present)
    scale = max(1.0, abs(mean))
    want = {"mean": mean, "min": present[0], "max": present[-1], "median": percentile(present, 50),
            "p5": percentile(present, 5), "p95": percentile(present, 95)}
    for key, value in want.items():
        check(near(got[key], value, 1e-9 * scale), f"statistics.{name}.{key} {got[key]} != {value}")
    sd = statistics.stdev(present)
    check(near(got["sd"], sd, 1e-9 * scale), f"statistics.{name}.sd {got['sd']} != {sd}")
    half = T975[n - 1] * sd / math.sqrt(n)
    low, high = got["ci95"]
    # The table's four digits.
    tol = 1e-4 * sd / math.sqrt(n) + 1e-9 * scale
    check(near(low, mean - half, tol) and near(high, mean + half, tol),
          f"statistics.{name}.ci95 {got['ci95']} != {[mean - half, mean + half]}")


def g6(v):
    """The results file's numbers: six significant digits, NaN as nan."""
    return "nan" if v is None or (isinstance(v, float) and math.isnan(v)) else "%g" % v


def main():
    truth_path, doc_path = sys.argv[1], sys.argv[2]
    with open(truth_path, encoding="utf-8") as f:
        truth = json.load(f)
    files = truth["files"]
    with open(files["record"], encoding="utf-8") as f:
        rec = json.load(f, parse_constant=no_constants)

    # Documentation and record agree member by member.
    have = member_paths(rec)
    documented = documented_paths(doc_path)
    for path in sorted(have - documented):
        check(False, f"{path} is not documented")
    for path in sorted(documented - have - OPTIONAL):
        check(False, f"{path} is documented but not in the record")

    count = truth["count"]
    rejected = truth["rejectFirst"]
    fails_at = truth["rfFailsAt"]
    accepted = [t for t in truth["truths"] if t["accepted"]]
    check(len(truth["truths"]) == rejected + count, "truths: one per acquisition")
    check(all(not t["accepted"] for t in truth["truths"][:rejected]), "truths: the first ones rejected")

    # The run.
    check(rec["schemaVersion"] == 1, "schemaVersion")
    check(rec["tool"]["name"] == "QuenviaCodecTiming", "tool.name")
    check(re.fullmatch(r"\d+\.\d+\.\d+", rec["tool"]["version"]) is not None, "tool.version")
    check(rec["label"] is None, "label")
    stamp = rec["stamp"]
    check(re.fullmatch(r"\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_", stamp) is not None, "stamp")
    prefix = os.path.basename(files["results"])[: -len("Results.txt")]
    check(prefix.endswith(stamp), "stamp is the files' stamp")
    started, ended = when(rec["started"]), when(rec["ended"])
    check(started <= ended, "started <= ended")
    check(rec["requested"] == count and rec["kept"] == count, "requested, kept")
    check(rec["end"] == {"state": "completed", "reason": None}, f"end {rec['end']}")

    # Acquisitions taken again: the rejected ones, before the first measurement.
    check(len(rec["retakes"]) == rejected, "retakes: one per rejected acquisition")
    for r in rec["retakes"]:
        check(r["forMeasurement"] == 1 and r["reason"] == "outsideWindow", f"retake {r}")
        # The bench lifts a rejected acquisition by 0.5 V.
        m = re.fullmatch(r"first sample (\S+) V", r["detail"] or "")
        check(m is not None and 0.3 < float(m.group(1)) < 0.7, f"retake detail {r['detail']}")

    # Settings and identities.
    s = truth["settings"]
    osc, sa, va = (rec["settings"][k] for k in ("oscilloscope", "spectrumAnalyzer", "videoAnalyzer"))
    check(osc == {"resource": s["osIp"], "type": s["oscType"], "typeIndex": 0 if s["oscType"] == "Orvix" else 1,
                  "reset": s["osReset"], "triggerLevelV": s["trgLevel"]}, f"settings.oscilloscope {osc}")
    check(sa == {"resource": s["saIp"], "reset": s["saReset"], "centerFrequencyHz": s["centerFreq"],
                 "ifDemod": s["ifDemod"]}, f"settings.spectrumAnalyzer {sa}")
    check(va == {"hdmiDelay": s["hdmi"], "resource": s["vaIp"], "reset": s["vaReset"],
                 "thresholdPercent": s["threshold"]}, f"settings.videoAnalyzer {va}")
    check(rec["settings"]["saveData"] is s["saveData"], "settings.saveData")
    check(rec["instruments"] == {"spectrumAnalyzer": {"identity": truth["saIdn"]}}, "instruments")

    # The trace files' time axis.
    points = accepted[0]["points"]
    interval = accepted[0]["timePerSample"]
    first = -0.5 if s["oscType"] == "Orvix" else -0.6
    tr = rec["traces"]
    check(tr["recordLength"] == points, "traces.recordLength")
    check(near(tr["firstSampleTimeS"], first, 1e-12), "traces.firstSampleTimeS")
    check(near(tr["sampleIntervalS"], interval, 1e-12), "traces.sampleIntervalS")
    check(tr["format"].startswith("float64 little-endian"), "traces.format")
    check(rec["files"] == {"results": os.path.basename(files["results"]), "csv": os.path.basename(files["csv"])},
          f"files {rec['files']}")

    # Every measurement against the acquisition it was made from.
    folder = os.path.dirname(files["results"])
    ms = rec["measurements"]
    check(len(ms) == count, "one element per measurement")
    times = []
    for i, (m, t) in enumerate(zip(ms, accepted)):
        k = i + 1
        where = f"measurement {k}"
        check(m["index"] == k, where + " index")
        check(m["retakenBefore"] == (rejected if k == 1 else 0), where + " retakenBefore")
        times.append(when(m["time"]))
        period = t["timePerSample"] * 1000
        sa_period = t["saTimePerSample"] * 1000
        tsrc, trf, tsnk = (m["edges"][e] for e in ("tsrcS", "trfS", "tsnkS"))
        # The edges are the first samples at or after the true edge.
        check(near(tsrc, first + t["srcIndex"] * interval, 1e-9), where + " edges.tsrcS")
        check(near(tsnk, first + t["snkIndex"] * interval, 1e-9), where + " edges.tsnkS")
        check(near(m["src2SnkMs"], (tsnk - tsrc) * 1000, 1e-6), where + " src2SnkMs from its edges")
        check(near(m["src2SnkMs"], t["src2SnkMs"], period + 1e-9), where + " src2SnkMs against the truth")
        if k == fails_at:
            check(m["src2RfMs"] is None and trf is None, where + " RF without a value")
            check(m["missing"] == {"src2Rf": "trace not read"}, where + f" missing {m['missing']}")
        else:
            check(t["saPoints"] == points, where + " analyzer trace of the record's length")
            check(near(trf, first + t["saRfIndex"] * interval, 1e-9), where + " edges.trfS")
            check(near(m["src2RfMs"], (trf - tsrc) * 1000, 1e-6), where + " src2RfMs from its edges")
            check(near(m["src2RfMs"], t["src2RfMs"], max(period, sa_period) + 1e-9),
                  where + " src2RfMs against the truth")
            check(m["missing"] == {}, where + f" missing {m['missing']}")
        check(m["src2Hd"] == truth["vaValue"], where + " src2Hd")
        check(m["videoAnalyzer"] == {"status": truth["vaStat"], "count": truth["vaCount"], "value": truth["vaValue"]},
              where + f" videoAnalyzer {m['videoAnalyzer']}")

        # Its trace files hold this acquisition: the source steps at srcIndex.
        names = m["traceFiles"]
        check(names == {kind: f"{prefix}{k:03d}_{suffix}.bin"
                        for kind, suffix in (("source", "src"), ("rf", "rf"), ("sink", "snk"))},
              where + f" traceFiles {names}")
        for kind in ("source", "rf", "sink"):
            size = os.path.getsize(os.path.join(folder, names[kind]))
            want = 0 if kind == "rf" and k == fails_at else 8 * points
            check(size == want, where + f" {kind} file of {size} bytes")
        src = array.array("d")
        with open(os.path.join(folder, names["source"]), "rb") as f:
            src.frombytes(f.read())
        if sys.byteorder != "little":
            src.byteswap()
        check(-0.05 < src[0] < 0.3 and src[t["srcIndex"] - 1] < 0.075 < src[t["srcIndex"]],
              where + " source trace of its own acquisition")
    check(all(started <= a <= b <= ended for a, b in zip(times, times[1:])), "measurement times in order")

    # The statistics, worked out again.
    check(rec["statistics"]["percentileRule"].startswith("linear interpolation"), "statistics.percentileRule")
    values = {path: [m[path + "Ms" if path != "src2Hd" else path] for m in ms] for path in PATHS}
    for path in PATHS:
        check_statistics(path, rec["statistics"][path], values[path], True)
    # The means against what the bench played.
    played = statistics.fmean(t["src2SnkMs"] for t in accepted)
    check(near(rec["statistics"]["src2Snk"]["mean"], played, accepted[0]["timePerSample"] * 1000),
          "Source->Sink mean against the truth")

    # The delay table: the record's values, to the last digit.
    with open(files["csv"], "rb") as f:
        raw = f.read()
    check(raw.count(b"\r\n") == count + 1 and raw.count(b"\n") == count + 1, "CSV lines end in CR LF")
    with open(files["csv"], newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    check(rows[0] == ["Measurement", "Time (ISO 8601)", "Source->RF (ms)", "Source->HDMI (ms)",
                      "Source->Sink (ms)", "Retaken before"], f"CSV header {rows[0]}")
    check(len(rows) == count + 1, "CSV: one row per measurement")
    for m, row in zip(ms, rows[1:]):
        cells = [str(m["index"]), m["time"]]
        cells += ["" if m[key] is None else m[key] for key in ("src2RfMs", "src2Hd", "src2SnkMs")]
        cells.append(str(m["retakenBefore"]))
        got = row[:2] + ["" if c == "" else float(c) for c in row[2:5]] + row[5:]
        check(got == cells, f"CSV row {row} != {cells}")

    # The results file, unchanged in form, agrees with the record.
    with open(files["results"], encoding="ascii") as f:
        lines = f.read().split("\n")
    heads = ("Source2RF", "Source2HD", "Source2Snk")
    want = []
    for head, path in zip(heads, PATHS):
        want.append(" ".join([head + " Delay:"] + [g6(v) for v in values[path]]))
        want.append(f"{head} Mean: {g6(rec['statistics'][path]['mean'])}")
    check(lines == want, f"results file {lines} != {want}")

    for p in problems:
        print("MISMATCH:", p)
    print(f"{len(problems)} mismatches in {files['record']}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
