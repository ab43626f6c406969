#!/usr/bin/env bash
# Builds what the transfer benchmark needs and prints its table: our VISA
# library, pyvisa-py and liblxi side by side on loopback, and our HiSLIP
# transport beside our raw socket (about three minutes).
# A timed program, not a test; extra options go to bench/transfer_table.py
# (--quick, --rounds N, --all-peers).
#
# The independent VXI-11 server is built from its sources in
# ../shared/perf/vxi11-ref next to the checkout (or $QUENVIA_VXI11_REF); without
# them the table has no VXI-11 rows against it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh --bench

build=$root/build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUENVIA_BUILD_TESTS=ON >/dev/null
targets=(quenvia-benchsim transfer_minserver transfer_recvloop transfer_ours)
if cmake --build "$build" --target help | grep 'transfer_lxi' >/dev/null; then
  targets+=(transfer_lxi)
fi
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

# rpcgen's output is generated here, in the build folder, never committed.
ref_src=${QUENVIA_VXI11_REF:-$root/../shared/perf/vxi11-ref}
ref_bin=""
ref_missing=""
if [ -f "$ref_src/sim.c" ] && [ -f "$ref_src/vxi11.x" ]; then
  ref_build=$build/vxi11-ref
  mkdir -p "$ref_build"
  cp "$ref_src/sim.c" "$ref_src/vxi11.x" "$ref_build/"
  (
    cd "$ref_build"
    rm -f vxi11.h vxi11_xdr.c
    rpcgen -h vxi11.x -o vxi11.h
    rpcgen -c vxi11.x -o vxi11_xdr.c
    # shellcheck disable=SC2046
    gcc -O2 -w $(pkg-config --cflags libtirpc) -I. -o vxi11-ref sim.c vxi11_xdr.c $(pkg-config --libs libtirpc)
  )
  ref_bin=$ref_build/vxi11-ref
else
  ref_missing="its sources (sim.c, vxi11.x) are not in $ref_src; set QUENVIA_VXI11_REF to their folder"
  echo "Note: $ref_missing" >&2
fi

# The independent HiSLIP server runs from where it lies (Python, standard
# library only): ../shared/perf/hislip-ref next to the checkout or its
# worktree folder, or $QUENVIA_HISLIP_REF.
hislip_ref=""
for dir in "${QUENVIA_HISLIP_REF:-}" "$root/../shared/perf/hislip-ref" "$root/../../shared/perf/hislip-ref"; do
  if [ -n "$dir" ] && [ -f "$dir/hislip_server.py" ]; then
    hislip_ref=$dir/hislip_server.py
    break
  fi
done

table=(/usr/bin/python3 "$root/bench/transfer_table.py" --bin "$build" --work "$build/out"
       --vxi11-ref "$ref_bin" --vxi11-ref-missing "$ref_missing" --hislip-ref "$hislip_ref" "$@")
# In a private network namespace the servers may take port 111, where
# liblxi and pyvisa-py look for the portmapper; nothing is seen outside.
if unshare -rn sh -c 'ip link set lo up' >/dev/null 2>&1; then
  QUENVIA_IN_NETNS=1 exec unshare -rn sh -c 'ip link set lo up && exec "$@"' sh "${table[@]}"
fi
echo "Note: no user and network namespace here (unshare -rn); VXI-11 peers are left out" >&2
exec "${table[@]}"
