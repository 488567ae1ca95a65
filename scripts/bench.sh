#!/usr/bin/env bash
# Builds the Windows benchmarks and runs them under Wine. Arguments go to
# nuv-bench: [runs (1000)] [capture MiB (64)].
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target nuv-bench >/dev/null
exec cmake/wine-run.sh "$PWD/build/windows/wineprefix" build/windows/bin/nuv-bench.exe "$@"
