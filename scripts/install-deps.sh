#!/bin/sh
# Installs the Debian packages the build and the tests need. Does nothing when
# everything is present, so it is cheap to call before every build.
set -eu

PACKAGES="cmake ninja-build g++ make pkg-config git clang libclang-rt-14-dev \
libgtest-dev libgmock-dev libbenchmark-dev libssl-dev \
libsdbus-c++-dev libsystemd-dev dbus dbus-daemon python3"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

echo "Installing missing packages:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q </dev/null
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing </dev/null
