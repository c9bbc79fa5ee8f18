#!/bin/sh
# Builds and runs the whole test suite:
#   1. a normal build with warnings as errors (benchmarks compiled too),
#   2. a build with AddressSanitizer and UndefinedBehaviorSanitizer,
#   3. a short run of every libFuzzer target under the sanitizers
#      (FUZZ_SECONDS per target, default 20).
set -eu
cd "$(dirname "$0")/.."

jobs=$(nproc)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_suite() {
    dir=$1
    shift
    echo "=== Building $dir"
    cmake -S . -B "$dir" -G Ninja -DQV_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "=== Testing $dir"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_BENCH=ON
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON

FUZZ_SECONDS=${FUZZ_SECONDS:-20} ./scripts/fuzz.sh
