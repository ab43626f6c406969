#!/usr/bin/env bash
# Proves the Debian package on this machine: builds it (scripts/build-deb.sh),
# has lintian check it, installs it with apt, runs what it installed
# (--version, a three-measurement headless run against the installed
# simulator, both man pages, the desktop entry and the metainfo), purges it
# and checks that nothing of it is left. Runs as root (or through sudo),
# without stdin; scripts/run-tests.sh calls it.
#
# It never touches an installation it did not make: with the package already
# installed it stops at once. Runs from other checkouts wait for each other.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --package
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# One install/purge cycle at a time on this machine.
lock=/run/lock/quenvia-check-package.lock
if { exec 9>>"$lock"; } 2>/dev/null; then
  flock --timeout 1800 9 || fail "another check of the package holds $lock"
fi

deb=$(scripts/build-deb.sh | tail -n 1)
pkg=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
echo "Package: $deb"

echo "== lintian"
# Errors fail the check; warnings and notes are printed for the record.
lintian --display-info --fail-on error "$deb" 2> >(grep -v 'running with root privileges' >&2)

state=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != not-installed ]; then
  fail "$pkg is on this machine already ($state); remove it first: apt purge $pkg"
fi
if grep -rhsE '^path-exclude[= ]+/usr/share/(man|doc)' /etc/dpkg/dpkg.cfg.d/ >/dev/null; then
  fail "dpkg is told to leave out /usr/share/man or /usr/share/doc (/etc/dpkg/dpkg.cfg.d/): a minimised image cannot show the package whole"
fi

# What the package holds, and which of those paths (shared folders such as
# /usr/share/icons) existed before: after the purge exactly those may remain.
work=$(mktemp -d)
paths=$work/paths
existed=$work/existed
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$' >"$paths"
while read -r p; do
  if [ -e "$p" ]; then echo "$p"; fi
done <"$paths" >"$existed"

# The build's packages hold every library the package needs: apt installs
# the package alone, downloads nothing, and the purge takes it all away.
adds=$(apt-get install -s -q --no-install-recommends "$deb" 2>/dev/null | awk '/^Inst /{print $2}' | xargs)
[ "$adds" = "$pkg" ] || fail "apt would install \"$adds\" for $deb, not the package alone"

. scripts/benchsim.sh
installed=""
purge() {
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q -o DPkg::Lock::Timeout=600 "$pkg" </dev/null
}
cleanup() {
  stop_benchsim
  if [ -n "$installed" ]; then purge >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 130" INT TERM

echo "== apt install $deb"
installed=yes
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  -o DPkg::Lock::Timeout=600 "$deb" </dev/null
[ "$(dpkg-query -W -f='${db:Status-Status} ${Version}' "$pkg")" = "installed $version" ] ||
  fail "dpkg does not list $pkg $version as installed"

echo "== the installed programs"
app=$(command -v QuenviaCodecTiming) || fail "QuenviaCodecTiming is not on PATH"
sim=$(command -v quenvia-benchsim) || fail "quenvia-benchsim is not on PATH"
[ "$app" = /usr/bin/QuenviaCodecTiming ] && [ "$sim" = /usr/bin/quenvia-benchsim ] ||
  fail "programs in the wrong place: $app, $sim"
[ "$("$app" --version)" = "QuenviaCodecTiming $version" ] || fail "$app --version says: $("$app" --version)"
[ "$("$sim" --version)" = "quenvia-benchsim $version" ] || fail "$sim --version says: $("$sim" --version)"
echo "$("$app" --version), $("$sim" --version)"

echo "== desktop entry, icon, metainfo"
desktop=$(grep '^/usr/share/applications/.*\.desktop$' "$paths") || fail "no desktop entry"
metainfo=$(grep '^/usr/share/metainfo/.*\.metainfo\.xml$' "$paths") || fail "no metainfo"
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$metainfo"
exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ "$(command -v "$exec_cmd")" = "$app" ] || fail "the desktop entry starts \"$exec_cmd\", not $app"
for f in scalable/apps/$icon.svg 16x16/apps/$icon.png 48x48/apps/$icon.png 256x256/apps/$icon.png; do
  [ -f "/usr/share/icons/hicolor/$f" ] || fail "the desktop entry's icon $icon has no /usr/share/icons/hicolor/$f"
done
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $(basename "$desktop")"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

echo "== a run of 3 against the installed simulator"
start_benchsim "$sim" --scenario "/usr/share/doc/$pkg/examples/demo.json"
# The window's settings format, as scripts/screenshots.sh writes it.
cat >"$work/bench.cfg" <<CFG
[Oscilloscope]
IP%20Address=$sim_osc
Type=1
Trigger%20Level=0.035

[Spectrum%20Analyzer]
IP%20Address=$sim_sa

[Video%20Analyzer]
IP%20Address=$sim_va
HDMI%20Delay=true
CFG
status=0
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work" XDG_DATA_HOME="$work/share" \
  timeout 120 "$app" --measure 3 --settings bench.cfg --out runs --label package --no-traces \
  --limit 'src2snk<=150' >"$work/stdout" 2>"$work/stderr" </dev/null) || status=$?
stop_benchsim
cat "$work/stderr" "$work/stdout"
[ "$status" -eq 0 ] || fail "the headless run ended with status $status"
grep -q '^3 of 3 measurements' "$work/stdout" || fail "the run did not keep 3 of 3 measurements"
record=$(ls "$work"/runs/*_package_Run.json) || fail "no run record in $work/runs"
# The demo scenario plays 40 ms to RF and 120 ms to the sink, +-3 ms jitter.
python3 - "$record" "$version" <<'PY' || fail "the run record is not that of the run"
import json, sys
r = json.load(open(sys.argv[1]))
s = r["statistics"]
ok = (r["tool"]["version"] == sys.argv[2] and r["kept"] == 3 and r["end"]["state"] == "completed"
      and 36 <= s["src2Rf"]["mean"] <= 44 and 116 <= s["src2Snk"]["mean"] <= 124
      and abs(s["src2Hd"]["mean"] - 35.2) < 1e-9)
sys.exit(0 if ok else 1)
PY

echo "== man pages"
for page in QuenviaCodecTiming:--measure quenvia-benchsim:--scenario; do
  name=${page%%:*}
  file=/usr/share/man/man1/$name.1.gz
  [ "$(man -w "$name")" = "$file" ] || fail "man finds no page $file for $name"
  text=$(MANWIDTH=80 man -l "$file" 2>&1) || fail "man -l $file: $text"
  grep -q -- "${page#*:}" <<<"$text" || fail "$file does not describe ${page#*:}"
  lexgrog "$file" || fail "the NAME section of $file cannot be read"
done

echo "== apt purge $pkg"
purge
installed=""
state=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
[ -z "$state" ] || [ "$state" = not-installed ] || fail "$pkg is still known to dpkg as $state"
left=$({ grep -vxF -f "$existed" "$paths" || true; } | while read -r p; do if [ -e "$p" ]; then echo "$p"; fi; done)
[ -z "$left" ] || fail "left behind after the purge: $left"
ls /var/lib/dpkg/info/"$pkg".* >/dev/null 2>&1 && fail "dpkg's records of $pkg are still there"
if man -w QuenviaCodecTiming >/dev/null 2>&1 || command -v QuenviaCodecTiming >/dev/null; then
  fail "QuenviaCodecTiming or its man page can still be found"
fi
id=$(basename "$desktop" .desktop)
if grep -qsF "$id" /usr/share/icons/hicolor/icon-theme.cache /usr/share/applications/mimeinfo.cache; then
  fail "$id is still in the icon or desktop caches"
fi
echo "check-package: $pkg $version built, installed, run and purged; nothing of it is left"
