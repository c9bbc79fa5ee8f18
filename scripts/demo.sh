#!/bin/sh
# The main job: list the supported dive computers.
set -eu
build=${1:-build}
"$build/examples/qvtool" list
