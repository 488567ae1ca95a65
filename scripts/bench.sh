#!/usr/bin/env bash
# Builds the Windows benchmarks and runs each under Wine; every figure is a
# ratio to a baseline measured in the same run.
# Usage: scripts/bench.sh [name-filter]   e.g. scripts/bench.sh command_runner
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
for bench in build/windows/bin/*${1:-}*_bench.exe; do
  echo "== $(basename "$bench" .exe)"
  cmake/wine-run.sh "$PWD/build/windows/wineprefix" "$bench"
done
