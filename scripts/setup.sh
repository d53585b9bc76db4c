#!/usr/bin/env bash
# Installs the Debian packages Norvane needs (only those missing), then configures and
# builds it in build/. Safe to run again: it does only what is left to do.
#   scripts/setup.sh run   what running needs: the executables, their help pages and data
#   scripts/setup.sh all   everything, the tests and benchmarks too (the default)
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-all}"

# What building and running the program needs.
packages=(
    g++ cmake ninja-build pkg-config          # compiler and build
    qt6-base-dev                              # windows, event loop, TCP
    libqscintilla2-qt6-dev                    # the script editor
    libjpeg62-turbo-dev                       # rack pictures
    xdg-utils                                 # exec opens documents and addresses
    cmark-gfm                                 # the help and manual pages, made from docs/
)
# What the tests and benchmarks need on top.
test_packages=(
    libgtest-dev libbenchmark-dev             # tests and benchmarks
    xvfb xauth openbox fonts-dejavu-core      # a display for window tests
    socat python3-serial expect               # serial and TCP peers in tests and benchmarks
    tcl tk lua5.4                             # tclsh, wish and lua5.4: the peers benchmarks race
)
case "$mode" in
run) tests=OFF ;;
all)
    tests=ON
    packages+=("${test_packages[@]}") ;;
*) echo "usage: scripts/setup.sh [run|all]" >&2; exit 64 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVANE_TESTS=$tests \
    -DNORVANE_BENCH=$tests >/dev/null
cmake --build build -j"$(nproc)"
