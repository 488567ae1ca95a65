#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs the journal fuzzer.
# Usage: scripts/fuzz.sh [seconds]   (default 30; the corpus grows in build/fuzz/corpus)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
cmake --preset fuzz >/dev/null
# Only the fuzz targets: under clang, Debian's Asio turns on co_await only with
# <experimental/coroutine>, which libstdc++ lacks, so the event loop does not
# build there; the fuzzers do not need it.
cmake --build --preset fuzz --target journal_fuzz
corpus=build/fuzz/corpus/journal
mkdir -p "$corpus"
log=build/fuzz/journal_fuzz.log
status=0
build/fuzz/bin/journal_fuzz -max_total_time="$seconds" -print_final_stats=1 \
  -dict=tests/fuzz/journal.dict -max_len=4096 -artifact_prefix=build/fuzz/ \
  "$corpus" tests/fuzz/seeds >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 40 "$log" >&2
  echo "fuzz: journal_fuzz failed (status $status); the input is in build/fuzz/" >&2
  exit "$status"
fi
grep -E '^(Done|stat::number_of_executed_units)' "$log" | sed 's/^/fuzz: /'
