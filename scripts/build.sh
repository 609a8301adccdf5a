#!/usr/bin/env bash
# Configures and builds the program into build/ (or the folder given as first argument);
# further arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
# Build folders of one clone share their compilations through ccache (paths taken relative to
# the clone).
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
shift || true
cmake -S . -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
