#!/usr/bin/env bash
# Runs an example script together with the simulated instrument it drives, so that it works
# without hardware:
#   scripts/run-example.sh NAME [--window | --headless]
#     dmm-csv      an SCPI multimeter on com11, ten readings logged to a CSV file
#     psu-ramp     a bench power supply on com12 ramped from 0 to 12 V, with its panel
#     modbus-poll  a Modbus RTU temperature controller on com13, polled with CRC checks
# The window opens and runs the script when there is a display, else the log is printed;
# --window and --headless choose. The simulator ends with the script or the window.
# Needs a build (./norvane.sh example NAME makes one first); NORVANE_BUILD names another
# build folder than build/.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${NORVANE_BUILD:-$root/build}"
usage() {
    echo "usage: scripts/run-example.sh dmm-csv|psu-ramp|modbus-poll [--window|--headless]" >&2
    exit 64
}
name="${1:-}"
mode="${2:-}"
case "$name" in
dmm-csv) device=multimeter.dev port=com11 ;;
psu-ramp) device=power-supply.dev port=com12 ;;
modbus-poll) device=temperature-controller.dev port=com13 ;;
*) usage ;;
esac
case "$mode" in
"") [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && mode=--window || mode=--headless ;;
--window | --headless) ;;
*) usage ;;
esac
runner=norvane-run
[ "$mode" = --window ] && runner=norvane
for exe in norvane-sim "$runner"; do
    if [ ! -x "$build/$exe" ]; then
        echo "$build/$exe is missing: build first (./norvane.sh example $name does)" >&2
        exit 64
    fi
done

tmp="$(mktemp -d)"
"$build/norvane-sim" --port "$port" --link "$tmp/$port" "$root/examples/devices/$device" \
    >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$tmp"' EXIT

for _ in $(seq 100); do
    [ -L "$tmp/$port" ] && break
    kill -0 "$sim" 2>/dev/null || { cat "$tmp/sim.err" >&2; exit 2; }
    sleep 0.05
done
export NORVANE_PORTS="$port=$tmp/$port"

# The examples open their panels by bare names (psu-ramp.res) and write their files in the
# build's examples folder, where the build makes those panels.
cd "$build/examples"
# In the background with a wait, so that a signal to this script reaches the program at
# once (bash runs traps only after a foreground program has ended).
"$build/$runner" "$root/examples/$name.nvs" <&0 &
run=$!
trap 'kill -INT "$run" 2>/dev/null; wait "$run"; exit 130' INT
trap 'kill -TERM "$run" 2>/dev/null; wait "$run"; exit 143' TERM HUP
wait "$run"
