#!/usr/bin/env bash
# One entry point for a new machine:
#   ./norvane.sh run [SCRIPT]   set up, build and run Norvane on a script
#                               (examples/hello.nvs by default; the window when there is a
#                               display, else the headless runner printing the log)
#   ./norvane.sh example NAME [--window|--headless]
#                               set up, build and run an example against its simulated
#                               instrument (dmm-csv, psu-ramp, modbus-poll)
#   ./norvane.sh test           set up, build and run every test (installs and builds the
#                               tests and benchmarks too; run and example build only the
#                               program)
#   ./norvane.sh test-sanitized the same in build-asan/ with AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")"
cmd="${1:-run}"
shift || true
case "$cmd" in
run | example) scripts/setup.sh run ;;
test | test-sanitized) scripts/setup.sh all ;;
esac
case "$cmd" in
run)
    script="${1:-examples/hello.nvs}"
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        exec build/norvane "$script"
    else
        echo "(no display: running the script with build/norvane-run)"
        exec build/norvane-run "$script"
    fi
    ;;
example)
    exec scripts/run-example.sh "$@"
    ;;
test)
    cd build
    exec ctest --output-on-failure -j"$(nproc)"
    ;;
test-sanitized)
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVANE_SANITIZE=ON \
        -DNORVANE_BENCH=OFF >/dev/null
    cmake --build build-asan -j"$(nproc)"
    # Leaks inside system libraries (fontconfig, dbus) are not this program's.
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    cd build-asan
    exec ctest --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: ./norvane.sh run [SCRIPT] | ./norvane.sh example NAME | ./norvane.sh test |" \
        "./norvane.sh test-sanitized" >&2
    exit 64
    ;;
esac
