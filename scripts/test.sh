#!/usr/bin/env bash
# Installs what is missing, builds, fetches the real scenes some tests run on (once, into
# build/real-data; without network those tests are skipped) and runs the whole test suite (GUI
# tests headless).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
scripts/fetch-real-data.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)"
