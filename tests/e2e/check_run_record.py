#!/usr/bin/env python3
"""Independent reader of a run's record (JSON), delay table (CSV) and results
file, with Python's standard library only:

    check_run_record.py TRUTH.json RUN-RECORD.md

TRUTH.json (written by tst_measrun) holds what the simulated bench played,
what the test set up and where the files are. Every member of the record is
checked against it, the statistics are worked out again, the CSV and the
results file must agree with the record, and every member must be documented
in RUN-RECORD.md. Prints each mismatch; exit status 1 when there is any.
"""

import array, csv, datetime, json, math, os, re, statistics, sys

T975 = {1: 12.7062, 2: 4.3027, 3: 3.1824, 4: 2.7764, 5: 2.5706, 6: 2.4469}  # printed table
PATHS = ("src2Rf", "src2Hd", "src2Snk")
# Documented members this run has no occasion to write.
OPTIONAL = {"measurements[].missing.src2Hd", "measurements[].missing.src2Snk", "measurements[].videoAnalyzer",
            "measurements[].traceFiles", "calibration", "recovered.time", "recovered.unreadableLines",
            "recovered.traceFilesLost"} | {
            f"calibration.paths.{p}.{m}" for p in ("src2Rf", "src2Hd", "src2Snk") for m in ("offsetMs", "uncertaintyMs", "note")}
problems = []


def read(path, mode="r"):
    with open(path, mode, **({} if "b" in mode else {"encoding": "utf-8", "newline": ""})) as f:
        return f.read()


def check(ok, what):
    if not ok:
        problems.append(what)


def near(a, b, tol):
    return a is not None and b is not None and abs(a - b) <= tol


def members(value, prefix=""):
    """Every leaf member as a dotted path, elements of arrays of objects as "[]"."""
    if isinstance(value, dict):
        return set().union(*[members(v, f"{prefix}.{k}" if prefix else k) for k, v in value.items()])
    if isinstance(value, list) and value and all(isinstance(v, dict) for v in value):
        return set().union(*[members(v, prefix + "[]") for v in value])
    return {prefix}


def documented(doc):
    text = read(doc).split("## Delays.csv")[0]
    return {m.replace("<path>", p) for m in re.findall(r"^\| `([^`]+)` \|", text, re.M) for p in PATHS}


def percentile(v, p):  # linear between the closest ranks, as PERCENTILE.INC
    rank = p / 100 * (len(v) - 1)
    below = math.floor(rank)
    return v[-1] if below >= len(v) - 1 else v[below] + (rank - below) * (v[below + 1] - v[below])


def main():
    truth = json.loads(read(sys.argv[1]))
    files, s = truth["files"], truth["settings"]
    rec = json.loads(read(files["record"]), parse_constant=lambda c: problems.append("not JSON: " + c))
    have, doc = members(rec), documented(sys.argv[2])
    check(have <= doc, f"not documented: {sorted(have - doc)}")
    check(doc - have <= OPTIONAL, f"documented, not in the record: {sorted(doc - have - OPTIONAL)}")

    count, rejected, fails_at = truth["count"], truth["rejectFirst"], truth["rfFailsAt"]
    accepted = [t for t in truth["truths"] if t["accepted"]]
    check(len(truth["truths"]) == rejected + count and len(accepted) == count, "the bench's acquisitions")

    check(rec["schemaVersion"] == 2 and rec["tool"]["name"] == "QuenviaCodecTiming", "schemaVersion, tool")
    check(re.fullmatch(r"\d+\.\d+\.\d+", rec["tool"]["version"]), "tool.version")
    prefix = os.path.basename(files["results"])[: -len("Results.txt")]
    check(rec["label"] is None and re.fullmatch(r"\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_", rec["stamp"])
          and prefix.endswith(rec["stamp"]), "label, stamp")
    started, ended = (datetime.datetime.fromisoformat(rec[k]) for k in ("started", "ended"))
    check(rec["requested"] == count == rec["kept"], "requested, kept")
    check(rec["end"] == {"state": "completed", "reason": None}, f"end {rec['end']}")
    check(rec["recovered"] is None, "recovered")
    check(len(rec["retakes"]) == rejected, "one retake per rejected acquisition")
    for r in rec["retakes"]:  # the bench lifts a rejected acquisition by 0.5 V
        m = re.fullmatch(r"first sample (\S+) V", r["detail"] or "")
        check(r["forMeasurement"] == 1 and r["reason"] == "outsideWindow" and m and 0.3 < float(m[1]) < 0.7,
              f"retake {r}")

    st = rec["settings"]
    check(st["oscilloscope"] == {"resource": s["osIp"], "type": s["oscType"], "typeIndex": 0, "reset": s["osReset"],
                                 "triggerLevelV": s["trgLevel"]}, f"settings.oscilloscope {st['oscilloscope']}")
    check(st["spectrumAnalyzer"] == {"resource": s["saIp"], "reset": s["saReset"], "ifDemod": s["ifDemod"],
                                     "centerFrequencyHz": s["centerFreq"]}, "settings.spectrumAnalyzer")
    check(st["videoAnalyzer"] == {"hdmiDelay": s["hdmi"], "resource": s["vaIp"], "reset": s["vaReset"],
                                  "thresholdPercent": s["threshold"]}, f"settings.videoAnalyzer {st['videoAnalyzer']}")
    check(st["saveData"] is s["saveData"], "settings.saveData")
    check(rec["instruments"] == {"spectrumAnalyzer": {"identity": truth["saIdn"]}}, "instruments")

    points, interval, first = accepted[0]["points"], accepted[0]["timePerSample"], -0.5  # Orvix
    tr = rec["traces"]
    check(tr["recordLength"] == points and near(tr["firstSampleTimeS"], first, 1e-12)
          and near(tr["sampleIntervalS"], interval, 1e-12) and tr["format"].startswith("float64 little-endian"),
          f"traces {tr}")
    check(rec["files"] == {"results": os.path.basename(files["results"]), "csv": os.path.basename(files["csv"])},
          f"files {rec['files']}")

    ms, folder, times = rec["measurements"], os.path.dirname(files["results"]), []
    for k, (m, t) in enumerate(zip(ms, accepted), start=1):
        at = f"measurement {k}: "
        times.append(datetime.datetime.fromisoformat(m["time"]))
        check(m["index"] == k and m["retakenBefore"] == (rejected if k == 1 else 0), at + "index, retakenBefore")
        period = t["timePerSample"] * 1000
        e = m["edges"]
        # The edges are the first samples at or after the edges played.
        check(near(e["tsrcS"], first + t["srcIndex"] * interval, 1e-9), at + "edges.tsrcS")
        check(near(e["tsnkS"], first + t["snkIndex"] * interval, 1e-9), at + "edges.tsnkS")
        check(near(m["src2SnkMs"], (e["tsnkS"] - e["tsrcS"]) * 1000, 1e-6)
              and near(m["src2SnkMs"], t["src2SnkMs"], period + 1e-9), at + "src2SnkMs")
        if k == fails_at:
            check(m["src2RfMs"] is None and e["trfS"] is None and m["missing"] == {"src2Rf": "trace not read"},
                  at + f"RF not read: {m['src2RfMs']} {m['missing']}")
        else:
            check(t["saPoints"] == points and near(e["trfS"], first + t["saRfIndex"] * interval, 1e-9), at + "trfS")
            check(near(m["src2RfMs"], (e["trfS"] - e["tsrcS"]) * 1000, 1e-6)
                  and near(m["src2RfMs"], t["src2RfMs"], max(period, t["saTimePerSample"] * 1000) + 1e-9)
                  and m["missing"] == {}, at + "src2RfMs")
        check(m["src2Hd"] == truth["vaValue"] and m["videoAnalyzer"] == {
            "status": truth["vaStat"], "count": truth["vaCount"], "value": truth["vaValue"]}, at + "videoAnalyzer")
        names = m["traceFiles"]
        check(names == {"source": f"{prefix}{k:03d}_src.bin", "rf": f"{prefix}{k:03d}_rf.bin",
                        "sink": f"{prefix}{k:03d}_snk.bin"}, at + f"traceFiles {names}")
        for kind in names:  # an RF trace not read leaves an empty file
            size = os.path.getsize(os.path.join(folder, names[kind]))
            check(size == (0 if kind == "rf" and k == fails_at else 8 * points), at + f"{kind} file size {size}")
        src = array.array("d", read(os.path.join(folder, names["source"]), "rb"))
        if sys.byteorder != "little":
            src.byteswap()
        check(-0.05 < src[0] < 0.3 and src[t["srcIndex"] - 1] < 0.075 < src[t["srcIndex"]], at + "its own traces")
    check(len(ms) == count and started <= times[0] and times == sorted(times) and times[-1] <= ended, "times")

    # Version 2: the fine edges lie within the sample interval before the
    # edges, the fine delays are their differences, the corrected delays the
    # fine ones less the calibration, and each uncertainty covers the truth:
    # with the bench's ideal steps, the edge times played.
    cal = truth["calibration"]
    check(rec["calibration"] == cal, f"calibration {rec['calibration']}")
    offset = {p: cal["paths"].get(p, {}).get("offsetMs", 0.0) for p in PATHS}
    for k, (m, t) in enumerate(zip(ms, accepted), start=1):
        at = f"measurement {k}: "
        e, fe, fine, corr, u = m["edges"], m["fineEdges"], m["fineMs"], m["correctedMs"], m["uncertaintyMs"]
        for edge in ("tsrcS", "trfS", "tsnkS"):
            check((e[edge] is None) == (fe[edge] is None)
                  and (e[edge] is None or e[edge] - interval - 1e-12 <= fe[edge] <= e[edge]), at + f"fineEdges.{edge}")
        played = {"src2Rf": t["src2RfMs"], "src2Snk": t["src2SnkMs"]}
        for p, edge in (("src2Rf", "trfS"), ("src2Snk", "tsnkS")):
            if m[p + "Ms"] is None:
                check(fine[p] is None and corr[p] is None and u[p] is None, at + f"no {p}, no fine")
                continue
            check(near(fine[p], (fe[edge] - fe["tsrcS"]) * 1000, 1e-9), at + f"fineMs.{p}")
            check(near(corr[p], fine[p] - offset[p], 1e-9), at + f"correctedMs.{p}")
            check(u[p] is not None and 0 < u[p] < 2 * interval * 1000 and abs(fine[p] - played[p]) <= u[p],
                  at + f"uncertaintyMs.{p} {u[p]} for {fine[p]} against {played[p]}")
        check(near(corr["src2Hd"], m["src2Hd"] - offset["src2Hd"], 1e-9), at + "correctedMs.src2Hd")
        hd = cal["paths"].get("src2Hd")
        check(near(u["src2Hd"], 2 * hd["uncertaintyMs"], 1e-12) if hd else u["src2Hd"] is None, at + "uncertaintyMs.src2Hd")
    for p in PATHS:
        got, unc = rec["statistics"][p], rec["statistics"][p]["uncertaintyMs"]
        corrected = [m["correctedMs"][p] for m in ms if m["correctedMs"][p] is not None]
        mean = statistics.fmean(corrected)
        check(near(got["correctedMean"], mean, 1e-9), f"statistics.{p}.correctedMean")
        if p != "src2Hd":
            check(near(got["fineMean"], statistics.fmean(m["fineMs"][p] for m in ms if m["fineMs"][p] is not None), 1e-9),
                  f"statistics.{p}.fineMean")
        c = unc["components"]
        check(near(c["statistical"], statistics.stdev(corrected) / math.sqrt(len(corrected)), 1e-9),
              f"statistics.{p}.uncertaintyMs.components.statistical")
        check(near(c["calibration"], cal["paths"].get(p, {}).get("uncertaintyMs", 0.0), 1e-12), f"{p} calibration term")
        if p != "src2Hd":
            check(near(c["timeBase"], cal["timeBasePpm"] * 1e-6 * abs(mean) / math.sqrt(3), 1e-12), f"{p} time base term")
        combined = math.sqrt(sum(x * x for x in c.values()))
        check(near(unc["combined"], combined, 1e-12) and unc["k"] >= 2 and unc["coverage"] == 0.95
              and near(unc["expanded"], unc["k"] * combined, 1e-12), f"statistics.{p}.uncertaintyMs {unc}")

    # The statistics, worked out again.
    stats = rec["statistics"]
    check(stats["percentileRule"].startswith("linear interpolation"), "statistics.percentileRule")
    values = {p: [m[p if p == "src2Hd" else p + "Ms"] for m in ms] for p in PATHS}
    for p in PATHS:
        got, v = stats[p], sorted(x for x in values[p] if x is not None)
        n, mean, sd = len(v), statistics.fmean(v), statistics.stdev(v)
        want = {"measured": True, "n": n, "missing": count - n, "mean": mean, "sd": sd, "min": v[0], "max": v[-1],
                "median": percentile(v, 50), "p5": percentile(v, 5), "p95": percentile(v, 95)}
        for key, w in want.items():
            check(near(got[key], w, 1e-9 * abs(mean)), f"statistics.{p}.{key} {got[key]} != {w}")
        half = T975[n - 1] * sd / math.sqrt(n)
        check(all(near(g, w, 1e-4 * sd + 1e-9 * mean) for g, w in zip(got["ci95"], (mean - half, mean + half))),
              f"statistics.{p}.ci95 {got['ci95']}")
    check(near(stats["src2Snk"]["mean"], statistics.fmean(t["src2SnkMs"] for t in accepted), interval * 1000),
          "Source->Sink mean against the truth")

    # The delay table: the record's values to the last digit, CR LF line ends.
    raw = read(files["csv"], "rb")
    check(raw.count(b"\r\n") == raw.count(b"\n") == count + 1, "CSV lines")
    rows = list(csv.reader(read(files["csv"]).splitlines(keepends=True)))
    labels = {"src2Rf": "Source->RF", "src2Hd": "Source->HDMI", "src2Snk": "Source->Sink"}
    check(rows[0] == ["Measurement", "Time (ISO 8601)", "Source->RF (ms)", "Source->HDMI (ms)", "Source->Sink (ms)",
                      "Retaken before", "Fine Source->RF (ms)", "Fine Source->Sink (ms)"]
          + sum(([f"Corrected {labels[p]} (ms)", f"U (k = 2) {labels[p]} (ms)"] for p in PATHS), []),
          f"CSV header {rows[0]}")
    for m, row in zip(ms, rows[1:]):
        want = [str(m["index"]), m["time"]] + ["" if m[p] is None else m[p] for p in ("src2RfMs", "src2Hd", "src2SnkMs")]
        got = row[:2] + [c and float(c) for c in row[2:5]]
        check(got == want and row[5] == str(m["retakenBefore"]), f"CSV row {row}")
        want = [m["fineMs"]["src2Rf"], m["fineMs"]["src2Snk"]]
        for p in PATHS:
            want += [m["correctedMs"][p], m["uncertaintyMs"][p]]
        check([float(c) if c else None for c in row[6:]] == want, f"CSV precision columns {row[6:]}")

    # The results file, in its old form, agrees with the record.
    g6 = lambda x: "nan" if x is None else "%g" % x
    want = []
    for head, p in zip(("Source2RF", "Source2HD", "Source2Snk"), PATHS):
        want += [" ".join([head + " Delay:"] + [g6(x) for x in values[p]]), f"{head} Mean: {g6(stats[p]['mean'])}"]
    check(read(files["results"]).split("\n") == want, "results file")

    for p in problems:
        print("MISMATCH:", p)
    print(f"{len(problems)} mismatches in {files['record']}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
