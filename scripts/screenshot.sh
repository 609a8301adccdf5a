#!/usr/bin/env bash
# Renders docs/main-window.png: the main window after opening, segmenting and crossing the
# sample band set (needs xvfb-run, from the xvfb package).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build
xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/tessera-screenshot docs/main-window.png samples
