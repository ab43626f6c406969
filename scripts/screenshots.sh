#!/usr/bin/env bash
# Makes docs/main-window.png, docs/graph.png, docs/statistics.png,
# docs/traces.png and docs/report.png: starts
# the bench simulator with the demo scenario, points a private settings file
# at it, and runs the application's screenshot build under a virtual X
# server. It initialises the instruments, takes a run of 40 measurements
# (saving its files in the private data folder) and saves the main window,
# the graph dialog and the Statistics window, also on its Traces page.
# Then a headless run of 40 writes its HTML report, which headless Chromium
# renders.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-$root/build/screenshots}

if [ ! -x "$build/tests/e2e/grabscreens/QuenviaCodecTiming" ] || [ ! -x "$build/sim/quenvia-benchsim" ] \
   || [ ! -x "$build/QuenviaCodecTiming" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target grabscreens quenvia-benchsim QuenviaCodecTiming
fi

work=$(mktemp -d)
. scripts/benchsim.sh
cleanup() {
  stop_benchsim
  rm -rf "$work"
}
trap cleanup EXIT

start_benchsim "$build/sim/quenvia-benchsim" --scenario sim/scenarios/demo.json

export XDG_DATA_HOME=$work/data
datadir=$XDG_DATA_HOME/Velmarsk/QuenviaCodecTiming
mkdir -p "$datadir"
cat > "$datadir/QuenviaCodecTiming.cfg" <<CFG
[Oscilloscope]
IP%20Address=$sim_osc
Type=1
Trigger%20Level=0.035

[Spectrum%20Analyzer]
IP%20Address=$sim_sa
Center%20Frequency=5.192e+09

[Video%20Analyzer]
IP%20Address=$sim_va
HDMI%20Delay=true
Threshold=35

[%General]
Save%20Data=2
CFG

mkdir -p docs
# The window icon is loaded from the working directory.
cp app/vk.ico "$work/"
(cd "$work" && xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/e2e/grabscreens/QuenviaCodecTiming" "$root/docs/main-window.png" "$root/docs/graph.png" \
  "$root/docs/statistics.png" "$root/docs/traces.png")

"$build/QuenviaCodecTiming" --measure 40 --settings "$datadir/QuenviaCodecTiming.cfg" --out "$work/runs" \
  --label nightly --limit 'src2snk<=150' --limit 'p95:src2snk<=160' --report "$work/report.html" >/dev/null 2>&1
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$work/chromium" --hide-scrollbars \
  --window-size=900,3200 --screenshot="$work/report.png" "$work/report.html" >/dev/null 2>&1
convert "$work/report.png" -trim +repage -bordercolor white -border 12 docs/report.png
echo "docs/main-window.png, docs/graph.png, docs/statistics.png, docs/traces.png and docs/report.png written"
