#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build (and, with --package, to
# build and check the Debian package; with --test, to test, the package
# included; with --bench, to run the transfer benchmark) the tool. Skips apt
# entirely when everything is already there.
set -euo pipefail

build_pkgs=(build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools libqwt-qt5-dev libqt5svg5-dev help2man)
# scripts/build-deb.sh (dpkg-shlibdeps, file for CPack) and
# scripts/check-package.sh (lintian, the validators, man, flock).
package_pkgs=(dpkg-dev file lintian desktop-file-utils appstream man-db python3 util-linux)
# rpcbind brings rpcinfo, the independent client of the simulator's portmapper.
test_pkgs=(python3 python3-pyvisa python3-pyvisa-py lxi-tools xvfb xauth iproute2 util-linux imagemagick locales
           clang libclang-rt-14-dev rpcbind
           chromium # renders the HTML report to PDF and PNG in tst_headless
           libtirpc-dev rpcsvc-proto) # to build the independent VXI-11 server the interop test talks to
# The peers and the independent VXI-11 server of scripts/bench-transfers.sh.
bench_pkgs=(python3 python3-pyvisa python3-pyvisa-py liblxi-dev libtirpc-dev rpcsvc-proto iproute2 util-linux)

pkgs=("${build_pkgs[@]}")
case "${1:-}" in
  --test) pkgs+=("${test_pkgs[@]}" "${package_pkgs[@]}") ;;
  --package) pkgs+=("${package_pkgs[@]}") ;;
  --bench) pkgs+=("${bench_pkgs[@]}") ;;
esac

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# Number handling is tested under a German locale too.
ensure_german_locale() {
  locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && return 0
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
}

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
[ "${1:-}" = "--test" ] && ensure_german_locale
exit 0
