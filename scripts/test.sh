#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in the normal build,
# once more under AddressSanitizer and UndefinedBehaviorSanitizer (all but the window tests),
# and the unit tests under ThreadSanitizer.
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
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -L unit -j "$jobs"

# The normal build last, so the closing line counts every test.
ctest --test-dir build -j "$jobs"
