#!/usr/bin/env bash
# Runs the test suites again and again while the machine is busy with other work, to find tests
# that pass only on a quiet machine. Started by hand; CI runs scripts/test.sh.
#
#   bash scripts/stress.sh [LOOPS [HOGS]]
#
# Builds as scripts/test.sh does (without load), then starts HOGS busy processes (default twice
# the cores) and runs, LOOPS times (default 3), the normal suite and the ASan+UBSan and TSan
# suites (all but the window tests). Prints the failed tests of every loop and ends with
# status 1 when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
loops=${1:-3}
jobs=$(nproc)
hogs=${2:-$((2 * jobs))}
export CTEST_OUTPUT_ON_FAILURE=1

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQAR_SANITIZE="address;undefined" -DQAR_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQAR_SANITIZE=thread -DQAR_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs"

pids=()
stop_load() { [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true; }
trap stop_load EXIT
for _ in $(seq "$hogs"); do
  (while :; do :; done) &
  pids+=($!)
done
echo "load: $hogs busy processes on $jobs cores"

log=$(mktemp -d)
failed=0
run() {  # name, ctest arguments...
  local name=$1; shift
  local out="$log/$name-$loop.txt"
  if env "${env_vars[@]}" ctest "$@" -j "$jobs" >"$out" 2>&1; then
    echo "loop $loop $name: $(grep -E 'tests passed' "$out")"
  else
    failed=1
    echo "loop $loop $name: FAILED ($out)"
    sed -n '/The following tests FAILED/,$p' "$out"
  fi
}
for loop in $(seq "$loops"); do
  env_vars=()
  run normal --test-dir build
  env_vars=(ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1)
  run asan --test-dir build-asan -LE gui
  env_vars=(TSAN_OPTIONS=halt_on_error=1)
  run tsan --test-dir build-tsan -LE gui
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
done
exit $failed
