#!/usr/bin/env bash
# Builds the Windows benchmarks, runs each under Wine and prints one table:
# measure, this program, baseline, ratio, target. Every baseline is measured
# in the same run. Each benchmark's own report is kept in build/windows/bench/.
# Usage: scripts/bench.sh [name-filter]   e.g. scripts/bench.sh watchdog
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
mkdir -p build/windows/bench
rows=()
status=0
for bench in build/windows/bin/*${1:-}*_bench.exe; do
  name=$(basename "$bench" .exe)
  echo "bench: running $name" >&2
  if ! cmake/wine-run.sh "$PWD/build/windows/wineprefix" "$bench" </dev/null >"build/windows/bench/$name.txt"; then
    rows+=("$name failed: see build/windows/bench/$name.txt")
    status=1
  fi
  while IFS= read -r row; do rows+=("$row"); done < <(grep '^ROW' "build/windows/bench/$name.txt" | cut -f2-)
done
echo "Measured $(date -u +%Y-%m-%d) on $(nproc) cores, $(wine --version) ($(uname -sm))"
echo
echo "| measure | this program | baseline | ratio | target |"
echo "|---|---|---|---|---|"
# awk, not read: read would merge the tabs around an empty field.
printf '%s\n' "${rows[@]}" | awk -F'\t' '{ printf "| %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5 }'
exit $status
