#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them, one after another.
# Usage: scripts/fuzz.sh [seconds] [target ...]
#   seconds  per target (default 30); the corpus grows in build/fuzz/corpus/<target>
#   target   journal, command_line (default: both)
# A finding stops the run; its input is in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(journal command_line)
cmake --preset fuzz >/dev/null
# Only the fuzz targets: under clang, Debian's Asio turns on co_await only with
# <experimental/coroutine>, which libstdc++ lacks, so the event loop does not
# build there; the fuzzers do not need it.
cmake --build --preset fuzz --target "${targets[@]/%/_fuzz}"
for target in "${targets[@]}"; do
  case $target in
    journal) options=(-dict=tests/fuzz/journal.dict -max_len=4096) seeds=tests/fuzz/seeds ;;
    command_line) options=(-max_len=1024) seeds=tests/fuzz/command_line_seeds ;;
    *) echo "fuzz: no target $target" >&2; exit 2 ;;
  esac
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  log=build/fuzz/${target}_fuzz.log
  status=0
  build/fuzz/bin/${target}_fuzz -max_total_time="$seconds" -print_final_stats=1 \
    "${options[@]}" -artifact_prefix=build/fuzz/ "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "fuzz: ${target}_fuzz failed (status $status); the input is in build/fuzz/" >&2
    exit "$status"
  fi
  grep -a -E '^(Done|stat::number_of_executed_units)' "$log" | sed "s/^/fuzz: $target: /"
done
