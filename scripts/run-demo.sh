#!/usr/bin/env bash
# Installs and builds what is needed, starts the bench simulator with the demo
# scenario, and runs the application against it with settings kept in a
# folder of their own (out/demo), never the user's real ones. The simulator
# stops when the application exits.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
No display found: the application is a desktop program and needs one.
On a machine without a screen run it under a virtual X server, for example:
    xvfb-run -a scripts/run-demo.sh
(Debian package xvfb). Nothing has been started.
MSG
  exit 1
fi

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc)" --target QuenviaCodecTiming quenvia-benchsim

demo=$root/out/demo
mkdir -p "$demo"
export XDG_DATA_HOME=$demo/data
datadir=$XDG_DATA_HOME/Velmarsk/QuenviaCodecTiming
cfg=$datadir/QuenviaCodecTiming.cfg
mkdir -p "$datadir"

# Start the simulator; it prints one ready line with its resource strings.
. scripts/benchsim.sh
trap stop_benchsim EXIT
trap "exit 130" INT TERM
start_benchsim build/release/sim/quenvia-benchsim --scenario sim/scenarios/demo.json --log "$demo/commands.jsonl"
osc=$sim_osc; sa=$sim_sa; va=$sim_va

# Point the settings file at the simulated instruments, keeping everything
# else the operator chose in earlier demo runs.
set_key() { # section key value
  local tmp; tmp=$(mktemp)
  awk -v sec="[$1]" -v key="$2" -v val="$3" '
    BEGIN { done = 0 }
    /^\[/ { if (insec && !done) { print key "=" val; done = 1 } insec = ($0 == sec) }
    insec && index($0, key "=") == 1 { if (!done) { print key "=" val; done = 1 } next }
    { print }
    END { if (!done) { if (!insec) print sec; print key "=" val } }' "$cfg" > "$tmp" 2>/dev/null || true
  mv "$tmp" "$cfg"
}
touch "$cfg"
set_key Oscilloscope "IP%20Address" "$osc"
set_key "Spectrum%20Analyzer" "IP%20Address" "$sa"
set_key "Video%20Analyzer" "IP%20Address" "$va"

echo "Simulated bench: oscilloscope $osc, spectrum analyzer $sa, video analyzer $va"
echo "Settings: $cfg"
echo "Results and trace files (with Save Data checked): $XDG_DATA_HOME/Velmarsk/"
cd build/release
./QuenviaCodecTiming
