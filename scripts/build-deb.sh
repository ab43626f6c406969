#!/usr/bin/env bash
# Builds the Debian package build/deb/<name>_<version>_<arch>.deb: a build of
# its own in build/package with Debian's compiler and linker flags
# (dpkg-buildflags, every hardening feature on), then CPack, whose
# dependencies come from the libraries the programs link (dpkg-shlibdeps).
# Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh --package

build=$root/build/package
out=$root/build/deb
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# The man pages carry the date of the last commit, not of the build.
if commit_time=$(git log -1 --format=%ct 2>/dev/null); then
  export SOURCE_DATE_EPOCH=$commit_time
fi
# --as-needed: no dependency on a library the programs do not use (libGL
# comes with Qt's link interface).
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=None -DQUENVIA_BUILD_TESTS=OFF -DQUENVIA_WERROR=ON \
  -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS -Wl,--as-needed" >/dev/null
cmake --build "$build" -j"$(nproc)"

rm -rf "$out"
(cd "$build" && cpack -B "$out" >/dev/null)
debs=("$out"/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "build-deb: expected one package in $out, found: ${debs[*]}" >&2
  exit 1
fi
echo "${debs[0]}"
