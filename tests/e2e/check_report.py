#!/usr/bin/env python3
"""Independent reader of a run's HTML report and JUnit file, with Python's
standard library only (and Chromium, where it is installed, to render):

    check_report.py EXPECT.json

EXPECT.json (written by tst_headless) names the files and says what they must
show: {"record": RUN.json or null, "html": REPORT.html or null, "junit":
FILE.xml or null, "render": DIR or null, "suite": the test suite's name,
"judged": limits judged, "traces": the last traces shown, "limits": [{"typed",
"verdict": met|exceeded|inconclusive|notJudged, "guarded"}]}.

The report: every figure marked with a record member matches the record, every
number in the figures' tables is so marked, nothing in it comes from outside
the file (no address, no script, no font, no picture file), one plot per
measured path, the trend with every value, the last traces, the limits with
their verdicts. The JUnit file: the common layout, one test case per limit
with its verdict. Rendered by headless Chromium: an A4 PDF and a PNG. Prints
each mismatch; exit status 1 when there is any.
"""

import html.parser, json, math, os, re, shutil, subprocess, sys, tempfile
import xml.etree.ElementTree as ET

PATHS = ("src2Rf", "src2Hd", "src2Snk")
UNITS = {"V": 1.0, "Hz": 1.0, "GHz": 1e9, "s": 1.0, "\u00b5s": 1e-6, "ms": 1e-3, "%": 1.0, "ppm": 1.0}
# What a self-contained report may hold: anything else could load something.
TAGS = {"html", "head", "meta", "title", "style", "body", "header", "footer", "section", "h1", "h2", "p", "table",
        "tr", "th", "td", "span", "div", "figure", "svg", "rect", "line", "polyline", "circle", "text", "g"}
ATTRIBUTES = {"lang", "charset", "name", "content", "id", "class", "colspan", "title", "data-record", "data-count",
              "viewbox", "width", "height", "role", "aria-label", "font-family", "font-size", "font-weight", "x", "y",
              "x1", "y1", "x2", "y2", "cx", "cy", "r", "fill", "fill-opacity", "stroke", "stroke-width",
              "stroke-dasharray", "points", "text-anchor", "transform"}
problems = []


def check(ok, what):
    if not ok:
        problems.append(what)


class Report(html.parser.HTMLParser):
    """The report's elements as a tree of [tag, attrs, children/text]."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = ["#root", {}, []]
        self.stack = [self.root]
        self.tags = []

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))
        node = [tag, dict(attrs), []]
        self.stack[-1][2].append(node)
        if tag != "meta":  # the one element without an end here
            self.stack.append(node)

    def handle_startendtag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))
        self.stack[-1][2].append([tag, dict(attrs), []])

    def handle_endtag(self, tag):
        for i in range(len(self.stack) - 1, 0, -1):
            if self.stack[i][0] == tag:
                del self.stack[i:]
                break

    def handle_data(self, data):
        self.stack[-1][2].append(data)


def text(node):
    return "".join(c if isinstance(c, str) else text(c) for c in node[2])


def walk(node):
    yield node
    for c in node[2]:
        if not isinstance(c, str):
            yield from walk(c)


def member(record, path):
    value = record
    for step in path.split("."):
        if isinstance(value, list):
            value = value[int(step)] if step.isdigit() and int(step) < len(value) else KeyError
        elif isinstance(value, dict) and step in value:
            value = value[step]
        else:
            return KeyError
    return value


def same(value, shown, key):
    """Does the report's text show the record's value?"""
    if value is None:
        return shown in ("-", "none", "not measured") or (shown == "\u221e" and key.endswith("effectiveDof"))
    if isinstance(value, bool):
        return shown == ("yes" if value else "no")
    if isinstance(value, str):
        return shown == (value or "none")
    parts = shown.split(" ")
    if len(parts) > 2 or (len(parts) == 2 and parts[1] not in UNITS):
        return False
    scale = UNITS[parts[1]] if len(parts) == 2 else 1.0
    try:
        number = float(parts[0])
    except ValueError:
        return False
    token = parts[0]
    if "e" in token.lower():
        return math.isclose(number * scale, value, rel_tol=1e-5)
    decimals = len(token.split(".")[1]) if "." in token else 0
    # Within one unit of the last digit shown (uncertainties are rounded up).
    return abs(number * scale - value) <= (10 ** -decimals) * scale * 1.0001 + 1e-12 * abs(value)


def check_html(expect, record):
    raw = open(expect["html"], encoding="utf-8").read()
    low = raw.lower()
    for bad in ("http:", "https:", "//", "url(", "@import", "@font-face", "<script", "<link", "<img", "<iframe",
                "<object", "<embed", "src=", "href="):
        check(bad not in low, f"report holds {bad!r}")
    parser = Report()
    parser.feed(raw)
    parser.close()
    for tag, attrs in parser.tags:
        check(tag in TAGS, f"tag <{tag}>")
        for a in attrs:
            check(a in ATTRIBUTES, f"attribute {a} of <{tag}>")
    check(raw.startswith("<!DOCTYPE html>") and "@page { size: A4" in raw, "doctype, A4 page")

    # Every marked figure is the record's; every number in the figures'
    # tables is marked; and every figure of the record's statistics is there.
    shown = {}
    for node in walk(parser.root):
        key = node[1].get("data-record")
        if key is None:
            continue
        value, t = member(record, key), text(node).strip()
        check(value is not KeyError, f"data-record {key} is no member of the record")
        if value is not KeyError:
            check(same(value, t, key), f"{key}: report {t!r}, record {value!r}")
        shown[key] = t
    for node in walk(parser.root):
        if node[0] == "section" and node[1].get("id") in ("figures", "uncertainty"):
            for cell in walk(node):
                if cell[0] == "td" and re.fullmatch(r"-?[0-9.]+", text(cell).strip()):
                    check("data-record" in cell[1], f"unmarked figure {text(cell)!r} in {node[1]['id']}")
    wanted = ["tool.name", "tool.version", "schemaVersion", "label", "started", "ended", "requested", "kept",
              "end.state", "settings.oscilloscope.resource", "settings.oscilloscope.triggerLevelV",
              "settings.spectrumAnalyzer.centerFrequencyHz", "instruments.spectrumAnalyzer.identity",
              "traces.sampleIntervalS"]
    figures = ["n", "missing", "mean", "sd", "min", "median", "p5", "p95", "max", "ci95.0", "ci95.1"]
    if record["schemaVersion"] >= 2:
        figures += ["fineMean", "correctedMean"] + ["uncertaintyMs." + m for m in (
            "expanded", "k", "effectiveDof", "combined", "components.statistical", "components.interpolation",
            "components.timeBase", "components.calibration", "perMeasurement.largestExpanded")]
    wanted += [f"statistics.{p}.{f}" for p in PATHS for f in figures]
    check(not [k for k in wanted if k not in shown], f"figures not shown: {[k for k in wanted if k not in shown]}")
    if record["schemaVersion"] < 2:
        check("schema version 1" in raw and "no fine or corrected delays" in raw, "version 1 says what it lacks")
    retakes = [n for n in walk(parser.root) if n[1].get("data-count") == "retakes"]
    check(len(retakes) == 1 and text(retakes[0]) == str(len(record["retakes"])), "acquisitions taken again")

    # The plots: one histogram per measured path, the trend with a dot per
    # value (up to 300), the last traces with their edges.
    svgs = {n[1].get("aria-label"): n for n in walk(parser.root) if n[0] == "svg"}
    measured = [p for p in PATHS if record["statistics"][p]["measured"]]
    labels = {"src2Rf": "Source->RF", "src2Hd": "Source->HDMI", "src2Snk": "Source->Sink"}
    for p in measured:
        check(labels[p] in svgs and any(n[0] == "rect" for n in walk(svgs[labels[p]])), f"histogram of {p}")
    trend = svgs.get("Delays over the run")
    dots = sum(1 for n in walk(trend) if n[0] == "circle") if trend else -1
    values = sum(record["statistics"][p]["n"] for p in measured)
    check(dots == values or values > 300, f"trend: {dots} dots for {values} values")
    last = record["measurements"][-1]["index"] if record["measurements"] else 0
    traces = svgs.get(f"Traces of measurement {last}")
    if expect["traces"]:
        lines = [n for n in walk(traces) if n[0] == "polyline"] if traces else []
        check(len(lines) >= 3, f"last traces: {len(lines)} lines")
        marks = [text(n) for n in walk(traces) if n[0] == "text" and "= " in text(n)] if traces else []
        edge = record["measurements"][-1]["edges"]["tsnkS"]
        check(f"tsnk = {edge * 1000:.3f} ms" in marks, f"sink edge marked: {marks}")
    else:
        check(traces is None, "traces shown where none are expected")

    # The limits as judged.
    rows = []
    for node in walk(parser.root):
        if node[0] == "section" and node[1].get("id") == "limits":
            for row in walk(node):
                cells = [c for c in row[2] if not isinstance(c, str) and c[0] == "td"]
                if row[0] == "tr" and cells:
                    rows.append((text(cells[0]), cells[-1][1].get("class"), text(cells[-1])))
            check(("No limits were judged" in text(node)) == (not expect["judged"]), "limits judged or not")
    want = [(l["typed"], l["verdict"], l["verdict"]) for l in expect["limits"]] if expect["judged"] else []
    check(rows == want, f"limits {rows} != {want}")
    return raw


def check_junit(expect, record):
    root = ET.parse(expect["junit"]).getroot()
    limits, judged = expect["limits"], expect["judged"]
    check(root.tag == "testsuites" and len(root) == 1 and root[0].tag == "testsuite", "testsuites/testsuite")
    suite = root[0]
    failures = sum(l["verdict"] in ("exceeded", "inconclusive") for l in limits) if judged else 0
    errors = 0 if judged else len(limits)
    for element in (root, suite):
        a = element.attrib
        check(a.get("name") == expect["suite"] and a.get("tests") == str(len(limits))
              and a.get("failures") == str(failures) and a.get("errors") == str(errors)
              and float(a.get("time", "x")) >= 0, f"{element.tag} {a}")
    if record is not None:
        # Times in seconds: the run's, from its record.
        from datetime import datetime
        took = (datetime.fromisoformat(record["ended"]) - datetime.fromisoformat(record["started"])).total_seconds()
        check(abs(float(suite.get("time")) - took) < 0.002, f"suite time {suite.get('time')} for {took} s")
        check(suite.get("timestamp") == record["started"][:19], f"timestamp {suite.get('timestamp')}")
    cases = suite.findall("testcase")
    check([c.get("name") for c in cases] == [l["typed"] for l in limits], "one test case per limit, as typed")
    for case, l in zip(cases, limits):
        check(case.get("classname") == expect["suite"] and float(case.get("time")) >= 0, f"testcase {case.attrib}")
        bad = list(case)
        if l["verdict"] == "met":
            check(bad == [], f"{l['typed']}: met, yet {bad}")
            continue
        check(len(bad) == 1, f"{l['typed']}: one failure or error")
        if not bad:
            continue
        kind, message = bad[0].tag, bad[0].get("message", "")
        if l["verdict"] == "notJudged":
            check(kind == "error" and bad[0].get("type") == "notJudged" and "not judged" in message,
                  f"{l['typed']}: {kind} {bad[0].attrib}")
            continue
        check(kind == "failure" and bad[0].get("type") == l["verdict"], f"{l['typed']}: {kind} {bad[0].attrib}")
        limit = l["typed"].split("<=")[1]
        check(f"{limit} ms" in message and re.search(r"\d+\.\d{3} ms", message), f"{l['typed']}: message {message}")
        uncertainty = "+/-" in message or "has no uncertainty" in message
        check(uncertainty == l["guarded"], f"{l['typed']}: uncertainty in {message}")


def render(expect, raw):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        print("SKIP rendering: chromium is not installed (scripts/install-deps.sh --test installs it)")
        return
    out = expect["render"]
    with tempfile.TemporaryDirectory() as profile:
        flags = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={profile}", "--hide-scrollbars"]
        page = "file://" + os.path.abspath(expect["html"])
        for extra in ([f"--print-to-pdf={out}/report.pdf", "--no-pdf-header-footer"],
                      [f"--screenshot={out}/report.png", "--window-size=900,3200"]):
            run = subprocess.run(flags + extra + [page], stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
            check(run.returncode == 0, f"chromium {extra[0]}: status {run.returncode} {run.stderr[-500:]!r}")
    pdf = open(f"{out}/report.pdf", "rb").read() if os.path.exists(f"{out}/report.pdf") else b""
    pages = len(re.findall(rb"/Type\s*/Page[^s]", pdf))
    boxes = {(round(float(w)), round(float(h))) for w, h in
             re.findall(rb"/MediaBox\s*\[\s*0\s+0\s+([0-9.]+)\s+([0-9.]+)\s*\]", pdf)}
    check(pdf.startswith(b"%PDF-") and 1 <= pages <= 8, f"PDF: {len(pdf)} bytes, {pages} pages")
    check(boxes and all(abs(w - 595) <= 1 and abs(h - 842) <= 1 for w, h in boxes), f"PDF pages not A4: {boxes}")
    png = open(f"{out}/report.png", "rb").read() if os.path.exists(f"{out}/report.png") else b""
    check(png[:8] == b"\x89PNG\r\n\x1a\n" and int.from_bytes(png[16:20], "big") == 900 and len(png) > 50000,
          f"PNG: {len(png)} bytes")


def main():
    expect = json.load(open(sys.argv[1], encoding="utf-8"))
    record = json.load(open(expect["record"], encoding="utf-8")) if expect.get("record") else None
    raw = check_html(expect, record) if expect.get("html") else None
    if expect.get("junit"):
        check_junit(expect, record if expect["judged"] else None)
    if raw is not None and expect.get("render"):
        render(expect, raw)
    for p in problems:
        print("MISMATCH:", p)
    print(f"{len(problems)} mismatches")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
