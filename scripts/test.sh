#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in the normal build,
# and once more under AddressSanitizer and UndefinedBehaviorSanitizer and under ThreadSanitizer
# (all but the window tests in both).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQAR_SANITIZE="address;undefined" -DQAR_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -LE gui -j "$jobs"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQAR_SANITIZE=thread -DQAR_BENCH=OFF
cmake --build build-tsan -j "$jobs"
# Reports go to files, so that a race in a program that a test starts (the host, the simulator)
# fails the run too, whether or not the test reads what that program wrote.
tsan_reports=$(mktemp -d)
tsan_status=0
TSAN_OPTIONS="halt_on_error=1 log_path=$tsan_reports/report" ctest --test-dir build-tsan -LE gui -j "$jobs" ||
  tsan_status=$?
if compgen -G "$tsan_reports/report.*" >/dev/null; then
  cat "$tsan_reports"/report.*
  tsan_status=1
fi
rm -rf "$tsan_reports"
[ "$tsan_status" -eq 0 ]

# The normal build last, so the closing line counts every test.
ctest --test-dir build -j "$jobs"
