#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a desktop and a
# man reader get: both programs, a valid desktop entry whose icon exists in
# every size it claims, valid metainfo, and man pages that describe every
# option the programs' --help lists (help2man drops what it cannot parse).
#
# Usage: check_install_tree.sh <build dir> <QuenviaCodecTiming> <quenvia-benchsim>
# Exits 77 (skipped) without the validators or man (scripts/install-deps.sh --test).
set -euo pipefail
build=$1 app=$2 sim=$3

for tool in desktop-file-validate appstreamcli man file; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
bad() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$work/usr" >/dev/null
share=$work/usr/share
for p in QuenviaCodecTiming quenvia-benchsim; do
  [ -x "$work/usr/bin/$p" ] || bad "bin/$p is not installed"
done

desktops=("$share"/applications/*.desktop)
[ ${#desktops[@]} -eq 1 ] && [ -f "${desktops[0]}" ] || bad "not one desktop entry: ${desktops[*]}"
desktop=${desktops[0]}
desktop-file-validate "$desktop" || bad "desktop-file-validate $desktop"
appstreamcli validate-tree --no-net "$work" || bad "appstreamcli validate-tree"
[ "$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")" = QuenviaCodecTiming ] || bad "Exec= is not QuenviaCodecTiming"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || bad "no scalable icon $icon.svg"
pngs=0
for png in "$share"/icons/hicolor/*x*/apps/"$icon".png; do
  [ -f "$png" ] || continue
  pngs=$((pngs + 1))
  size=$(basename "$(dirname "$(dirname "$png")")")
  file "$png" | grep -q "PNG image data, ${size/x/ x }," || bad "$png is not $size: $(file -b "$png")"
done
[ "$pngs" -ge 6 ] || bad "only $pngs PNG sizes of $icon"

# Every option --help names must be in the page, under the page's own name.
check_page() { # program page
  local text
  text=$(MANWIDTH=200 man -l "$2" 2>&1) || { bad "man -l $2: $text"; return; }
  for option in $("$1" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u); do
    grep -q -- "$option" <<<"$text" || bad "$2 lacks $option"
  done
  grep -q "^NAME" <<<"$text" && grep -q "^SYNOPSIS" <<<"$text" || bad "$2 has no NAME or SYNOPSIS"
}
check_page "$app" "$share/man/man1/QuenviaCodecTiming.1.gz"
check_page "$sim" "$share/man/man1/quenvia-benchsim.1.gz"

[ "$failures" -eq 0 ] || exit 1
echo "install tree: programs, desktop entry, $pngs icon sizes, metainfo and both man pages are right"
