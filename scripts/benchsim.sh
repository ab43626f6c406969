# Sourced by the scripts that run the application against the simulated bench.
#
# start_benchsim <simulator program (quenvia-benchsim)> [options...]
#   Starts the simulator, waits for its ready line and sets sim_pid and the
#   resource strings sim_osc, sim_sa and sim_va. Returns 1 (with a message)
#   when the simulator does not come up within 20 s.
# stop_benchsim
#   Stops it again; safe to call when it never started.

sim_pid=""

start_benchsim() {
  local ready=""
  coproc SIM { exec "$@"; }
  sim_pid=$SIM_PID
  read -r -t 20 ready <&"${SIM[0]}" || true
  case "$ready" in
    "benchsim ready "*) ;;
    *) echo "The bench simulator did not start: ${ready:-no answer}" >&2; return 1 ;;
  esac
  sim_osc=$(sed -n 's/.* osc=\([^ ]*\).*/\1/p' <<<"$ready")
  sim_sa=$(sed -n 's/.* sa=\([^ ]*\).*/\1/p' <<<"$ready")
  sim_va=$(sed -n 's/.* va=\([^ ]*\).*/\1/p' <<<"$ready")
}

stop_benchsim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
