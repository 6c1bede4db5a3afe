# The cases of a test set as scripts/test-i686 and scripts/test-real-stack (in its guest) run
# them. Sourced by those scripts. A case is a row "name|...|time limit" of a table named cases.
#
# case_select NAME...   sets selected to the rows named (all rows without a name); --list prints
#                       the names with their limits and exits
# case_run LIMIT LOG COMMAND...
#     runs COMMAND in a session of its own, its output in LOG, calling case_poll (where the caller
#     defines it) every 0.2 s while it runs, and case_timed_out before the case is ended after
#     LIMIT s. What its session left running is ended by process id and named in LOG. Sets
#     case_rc, case_seconds and case_verdict: TIME-OUT; FAIL when something outlived it, its exit
#     code is not 0, or its log shows no passed test or a failed one (with case_exit_code_only=1,
#     the exit code alone); else PASS.
# case_report NAME LOG  prints the case's line, and for a failure the end of LOG.

field() { local IFS='|'; local f=($1); echo "${f[$2]:-}"; }

case_select() {
  local c
  if [ "${1:-}" = "--list" ]; then
    for c in "${cases[@]}"; do printf '%-24s %4s s\n' "$(field "$c" 0)" "$(field "$c" -1)"; done
    exit 0
  fi
  selected=()
  for c in "${cases[@]}"; do
    if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -qx "$(field "$c" 0)"; then selected+=("$c"); fi
  done
  [ ${#selected[@]} -gt 0 ] || { echo "$(basename "$0"): no case named $*; see --list" >&2; exit 2; }
}

# Wine's own services that a case happens to start belong to the Wine session, not to the case.
case_wine_services='system32.(explorer[.]exe /desktop|services[.]exe|winedevice[.]exe|plugplay[.]exe|rpcss[.]exe|svchost[.]exe)'
case_exit_code_only=0

case_run() {
  local limit=$1 log=$2 t0=$EPOCHREALTIME pid left p deadline
  shift 2
  setsid "$@" </dev/null >"$log" 2>&1 &
  pid=$!
  case_verdict="" deadline=$(($(date +%s) + limit))
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$(date +%s)" -ge "$deadline" ]; then
      case_verdict=TIME-OUT
      ! declare -F case_timed_out >/dev/null || case_timed_out
      break
    fi
    ! declare -F case_poll >/dev/null || case_poll
    sleep 0.2
  done
  left=$(ps -o pid=,stat=,args= -s "$pid" 2>/dev/null |
    awk -v services="$case_wine_services" '$2 !~ /^Z/ && $0 !~ services { print $1 }') || true
  if [ -n "$left" ]; then
    { echo "--- still running, ended by the harness:"; ps -o pid=,args= -p "${left//$'\n'/,}" || true; } >>"$log"
    for p in $left; do kill -KILL "$p" 2>/dev/null || true; done
    [ -n "$case_verdict" ] || case_verdict=FAIL
  fi
  case_rc=0
  wait "$pid" 2>/dev/null || case_rc=$?
  case_seconds=$(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
  [ -z "$case_verdict" ] || return 0
  case_verdict=FAIL
  if [ $case_rc -eq 0 ] && { [ "$case_exit_code_only" = 1 ] ||
    { grep -q '^\[  PASSED  \] [1-9]' "$log" && ! grep -q '^\[  FAILED  \]' "$log"; }; }; then
    case_verdict=PASS
  fi
}

case_report() {
  printf '%-24s %-8s %6s s\n' "$1" "$case_verdict" "$case_seconds"
  case $case_verdict in
    PASS) return 0 ;;
    TIME-OUT) echo "  ran out of its time limit; every process it started was ended. Its last output:" ;;
    *) echo "  exit code $case_rc; the end of its output ($2):" ;;
  esac
  tail -n 30 "$2" | sed 's/^/    /'
}
