#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each one briefly: first over its
# saved crash inputs (fuzz/regressions/<name>), then for FUZZ_SECONDS
# seconds (default 30) from a copy of its seed corpus (fuzz/corpus/<name>,
# plus the seeds written fresh from the simulators' logbooks). Exits
# non-zero when a target crashes; the crashing input is kept under
# <build>/fuzz-artifacts/ and should be added to fuzz/regressions/<name>.
#
# Environment: FUZZ_SECONDS, FUZZ_BUILD_DIR (default build-fuzz), CC/CXX
# (default clang/clang++).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${FUZZ_SECONDS:-30}
build=${FUZZ_BUILD_DIR:-build-fuzz}
cc=${CC:-clang}
cxx=${CXX:-clang++}

if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "fuzz.sh: $cxx not found; the fuzz targets need clang" >&2
    exit 1
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

echo "=== Building the fuzz targets in $build"
CC=$cc CXX=$cxx cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQV_BUILD_FUZZ=ON -DQV_BUILD_TESTS=OFF -DQV_SANITIZE=ON >/dev/null
cmake --build "$build" -j 2 --target fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
artifacts="$root/$build/fuzz-artifacts"
mkdir -p "$artifacts"

status=0
for source in fuzz/fuzz_*.cpp; do
    target=$(basename "$source" .cpp)
    name=${target#fuzz_}
    binary="$build/fuzz/$target"

    regressions="fuzz/regressions/$name"
    if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
        echo "=== $target: replaying $regressions"
        if ! "$binary" "$regressions"/*; then
            echo "fuzz.sh: $target crashes on a saved input in $regressions" >&2
            status=1
            continue
        fi
    fi

    corpus="$work/$name"
    mkdir -p "$corpus"
    if [ -d "fuzz/corpus/$name" ]; then
        cp -R "fuzz/corpus/$name/." "$corpus/"
    fi
    if [ "$name" = parser ]; then
        "$build/fuzz/make_seeds" "$corpus"
    fi

    echo "=== $target: fuzzing for $seconds s"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "$corpus"; then
        echo "fuzz.sh: $target crashed; the input is in $artifacts" >&2
        status=1
    fi
done

exit $status
