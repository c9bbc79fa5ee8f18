#!/bin/sh
# Builds and runs the whole test suite twice: a normal build with warnings as
# errors, then a build with AddressSanitizer and UndefinedBehaviorSanitizer.
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

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON
