#!/bin/sh
# Installs the build into a temporary prefix, then builds two consumers of
# the installed library: one through find_package, one through pkg-config.
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -x "$work/prefix/bin/qvtool"
test -f "$work/prefix/include/libquivelmarine/device.h"

cmake -S "$source/tests/install" -B "$work/cmake" -G Ninja \
    -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:${LD_LIBRARY_PATH:-}" "$work/cmake/consumer"

libdir=$(dirname "$(find "$work/prefix" -name libquivelmarine.pc | head -n 1)")
export PKG_CONFIG_PATH="$libdir"
cc -o "$work/pkgconfig-consumer" "$source/tests/install/consumer.c" $(pkg-config --cflags --libs libquivelmarine)
LD_LIBRARY_PATH="$work/prefix/lib:${LD_LIBRARY_PATH:-}" "$work/pkgconfig-consumer"

# Only the library's own qv_ symbols are exported.
lib=$(find "$work/prefix" -name 'libquivelmarine.so.*.*' | head -n 1)
others=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TDBRW]/ {print $3}' | grep -v '^qv_' | grep -v '^_' || true)
if [ -n "$others" ]; then
    echo "unexpected exported symbols:" >&2
    echo "$others" >&2
    exit 1
fi
echo "install ok"
