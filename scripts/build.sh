#!/usr/bin/env bash
# Configures and builds the program into build/ (or the folder given as first argument);
# further arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
