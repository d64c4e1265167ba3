#!/usr/bin/env bash
# Runs the end-to-end label again and again while busy loops keep every CPU this script may use
# busy, and stops at the first run that fails. It shows that the suite holds on a loaded machine:
#
#   scripts/e2e/load-check.sh [--runs N] [--hogs N] [--tests REGEX] [--build-dir DIR]
#
#   --runs N         runs of `ctest -L e2e` (default 10)
#   --hogs N         busy loops beside them (default: one per CPU this script may use, so
#                    `taskset -c 0,1 scripts/e2e/load-check.sh` loads those two); 0 for none
#   --tests REGEX    only the e2e tests whose names match (ctest -R), e.g. qemu
#   --build-dir DIR  the configured debug build (default build/debug)
#
# Each run's ctest output goes to DIR/e2e-load-check/PID/run-N.log; a failed run's failures are
# printed too.
# The busy loops are ended by their process ids when the script ends, however it ends.
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=10
hogs=$(nproc)
build_dir=build/debug
tests=.
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --hogs) hogs=$2; shift 2 ;;
    --tests) tests=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    *) sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0" >&2; exit 2 ;;
  esac
done
[[ "$runs" =~ ^[0-9]+$ && "$hogs" =~ ^[0-9]+$ ]] || { echo "load-check: --runs and --hogs take counts" >&2; exit 2; }
[ -f "$build_dir/CTestTestfile.cmake" ] || { echo "load-check: $build_dir is not a configured build" >&2; exit 2; }

hog_pids=()
stop_hogs() {
  [ ${#hog_pids[@]} -eq 0 ] || kill "${hog_pids[@]}" 2>/dev/null || true
  hog_pids=()
}
trap stop_hogs EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
for _ in $(seq "$hogs"); do
  (while :; do :; done) &
  hog_pids+=($!)
done

logs="$build_dir/e2e-load-check/$$"
mkdir -p "$logs"
echo "load-check: $runs run(s) of the e2e tests matching '$tests' beside $hogs busy loop(s), on CPUs $(taskset -pc $$ | sed 's/.*: //')"
passed=0
for run in $(seq "$runs"); do
  log="$logs/run-$run.log"
  started=$(date +%s)
  # A run whose guests could not start (ctest reports them skipped) shows nothing: it fails too.
  if ctest --test-dir "$build_dir" -L e2e -R "$tests" --output-on-failure >"$log" 2>&1 && ! grep -q '\*\*\*Skipped' "$log"; then
    passed=$((passed + 1))
    echo "load-check: run $run passed in $(($(date +%s) - started)) s ($(grep -c ' Passed ' "$log") tests)"
  else
    echo "load-check: run $run failed after $(($(date +%s) - started)) s; the failures in $log:"
    grep -E '^\[  FAILED|Failure$|exception|Expected|Which is|run-in-guest:|\*\*\*|Test #' "$log" | sed 's/^/  | /'
    echo "$passed passed, 1 failed"
    exit 1
  fi
done
echo "$passed passed, 0 failed"
