#!/usr/bin/env bash
# Builds the Windows program and shows its main job under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target nuv-watchdog nuv-demo >/dev/null
exec cmake/wine-run.sh "$PWD/build/windows/wineprefix" build/windows/bin/nuv-demo.exe
