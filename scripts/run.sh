#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tessera_V2.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
exec build/src/tessera "$@"
