#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build (and, with --test, to test)
# the tool. Skips apt entirely when everything is already there.
set -euo pipefail

build_pkgs=(build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools libqwt-qt5-dev libqt5svg5-dev)
test_pkgs=(python3 python3-pyvisa python3-pyvisa-py lxi-tools xvfb xauth iproute2 util-linux imagemagick)

pkgs=("${build_pkgs[@]}")
if [ "${1:-}" = "--test" ]; then
  pkgs+=("${test_pkgs[@]}")
fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
