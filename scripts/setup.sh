#!/usr/bin/env bash
# Installs the Debian packages Norvane needs (only those missing), then configures and
# builds it in build/. Safe to run again: it does only what is left to do.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    g++ cmake ninja-build pkg-config          # compiler and build
    qt6-base-dev                              # windows, event loop, TCP
    libqscintilla2-qt6-dev                    # the script editor
    libjpeg62-turbo-dev                       # rack pictures
    libgtest-dev libbenchmark-dev             # tests and benchmarks
    xvfb xauth openbox fonts-dejavu-core      # a display for window tests
    socat python3-serial expect               # serial and TCP peers in tests and benchmarks
    tcl                                       # tclsh, the pace bench_engine compares against
    xdg-utils                                 # exec opens documents and addresses
    cmark-gfm                                 # the help pages, made from docs/
)

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

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
