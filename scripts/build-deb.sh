#!/usr/bin/env bash
# Builds the Debian package of Tessera_V2 into the build folder given (default build-deb):
# a Release build for the prefix /usr with the Python module in Debian's dist-packages, then
# `cpack -G DEB`. Prints the package's path. Install it with
#   sudo apt-get install ./build-deb/tessera_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
scripts/install-deps.sh
# Rebuilds on this machine reuse the compilations of other build folders through ccache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTESSERA_PYTHON_INSTALL_DIR=lib/python3/dist-packages -DTESSERA_BUILD_TESTS=OFF \
    -DTESSERA_PACKAGING=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/tessera_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/tessera_*.deb
