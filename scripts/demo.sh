#!/bin/sh
# The main job, demonstrated without a dive computer: qvsim serves a
# simulated Suunto Vyper (with its built-in logbook) on a pseudo-terminal,
# qvtool downloads all of its dives into dives.xml in the current directory,
# and a short summary of the dives follows. The exit code is qvtool's.
#
# With a real dive computer on its cable, run qvtool directly instead:
#   qvtool -d "Suunto Vyper" download -o dives.xml /dev/ttyUSB0
#
# Usage: scripts/demo.sh [BUILD_DIR]    (default: build)
set -eu

build=${1:-build}
qvtool="$build/examples/qvtool"
qvsim="$build/sim/qvsim"
model="Suunto Vyper"
output=dives.xml

for program in "$qvtool" "$qvsim"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing; build the project first (make build)." >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qvdemo.XXXXXX")
sim_pid=

# The simulator is stopped whatever happens: success, failure or interrupt.
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
    rm -rf "$work"
}
trap cleanup EXIT
# Ctrl-C reaches qvtool, which cancels the download and reports it; the
# script carries on to show what came and to stop the simulator.
trap ':' INT
trap 'exit 143' TERM HUP

# The simulator ignores the interrupt key: Ctrl-C cancels the download (as
# it would with a real device), and the simulator is stopped afterwards.
(
    trap '' INT
    exec "$qvsim" -d "$model" >"$work/qvsim.out" 2>"$work/qvsim.err"
) &
sim_pid=$!

# qvsim prints the terminal's path on its first line once it serves.
port=
tries=0
while [ -z "$port" ]; do
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: the simulator did not start:" >&2
        cat "$work/qvsim.err" >&2
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
        exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 300 ]; then
        echo "demo: the simulator printed no terminal path." >&2
        exit 1
    fi
    sleep 0.1
    port=$(sed -n '1{/^\/dev\//p;}' "$work/qvsim.out")
done

echo "Simulated $model on $port."
echo "Running: $qvtool -d \"$model\" download -o $output $port"
echo "(about ten seconds: the cable protocol waits for the device at every step)"

status=0
"$qvtool" -d "$model" download -o "$output" "$port" 2>"$work/qvtool.log" || status=$?

if [ "$status" -ne 0 ]; then
    echo "demo: qvtool failed (exit code $status); its messages:" >&2
    cat "$work/qvtool.log" >&2
fi

# What the device reported, then one line per dive from the XML file.
sed -n 's/^Event: model=\([0-9]*\).*serial=\([0-9]*\).*/Device: model \1, serial \2/p' "$work/qvtool.log"
if [ -f "$output" ]; then
    dives=$(grep -c '^<dive>$' "$output" || true)
    echo "Downloaded $dives dive(s) into $output (newest first):"
    awk '
        /^<datetime>/ { sub(/^<datetime>/, ""); sub(/<\/datetime>$/, ""); datetime = $0 }
        /^<divetime>/ { sub(/^<divetime>/, ""); sub(/<\/divetime>$/, ""); divetime = $0 }
        /^<maxdepth>/ { sub(/^<maxdepth>/, ""); sub(/<\/maxdepth>$/, ""); maxdepth = $0 }
        /^<number>/   { sub(/^<number>/, ""); sub(/<\/number>$/, ""); number = $0 }
        /^<\/dive>$/  { printf "  %2s  %s  %s min  max depth %s m\n", number, datetime, divetime, maxdepth
                        datetime = divetime = maxdepth = number = "" }
    ' "$output"
fi

exit "$status"
