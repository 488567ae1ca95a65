#!/usr/bin/env bash
# Static checks: clang-tidy on the native build (.clang-tidy), cppcheck on every
# source, and the layout of .clang-format. Exits non-zero on any finding.
# Needs build/native/compile_commands.json: configure the native preset first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

database=build/native/compile_commands.json
if [ ! -f "$database" ]; then
  echo "lint: $database is missing; run 'cmake --preset native' first" >&2
  exit 1
fi

sources=()
while IFS= read -r -d '' f; do sources+=("$f"); done < <(
  find src tests tools bench \( -path tests/data -prune \) -o \
    \( -name '*.h' -o -name '*.cpp' \) -type f -print0 | sort -z)

status=0

echo "== lint: layers" >&2
# The folders of src/ form layers, each including only itself and those
# listed before it; rollback and wintun stand side by side and do not include
# each other. docs/ARCHITECTURE.md draws them.
layers=(common state platform/runtime platform/process "platform/rollback platform/wintun" watchdog)
layer_of() {  # a path below src/ -> "<rank> <folder>"
  local rank=0 group folder
  for group in "${layers[@]}"; do
    for folder in $group; do
      case "$1" in "$folder"/*) echo "$rank $folder"; return ;; esac
    done
    rank=$((rank + 1))
  done
  echo "- -"
}
while IFS= read -r -d '' file; do
  read -r rank folder < <(layer_of "${file#src/}")
  if [ "$rank" = - ]; then
    echo "$file: not in any layer" >&2
    status=1
    continue
  fi
  while IFS=: read -r line target; do
    read -r target_rank target_folder < <(layer_of "$target")
    [ "$target_rank" = - ] && continue  # a generated or system header
    if [ "$target_folder" != "$folder" ] && ! ((target_rank < rank)); then
      echo "$file:$line: includes $target against the layers ($folder may use only the layers before it)" >&2
      status=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
    sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
done < <(find src \( -name '*.h' -o -name '*.cpp' \) -type f -print0 | sort -z)

echo "== lint: clang-format" >&2
clang-format-14 --dry-run --Werror "${sources[@]}" || status=1

echo "== lint: cppcheck" >&2
# _WIN32 lets it follow the Windows side of the shared headers; the googletest
# library teaches it the TEST macros.
cppcheck --std=c++20 -D_WIN32 --library=googletest \
  --enable=warning,performance,portability --inline-suppr --error-exitcode=1 \
  --suppress=missingIncludeSystem -I src -I tests -i tests/data --quiet -j2 \
  src tests tools bench || status=1

echo "== lint: clang-tidy" >&2
# The translation units of the native build, without GoogleTest's. The header
# filter is anchored here so that the tables generated into build/ are left out.
# Asio 1.22 enables co_await for clang only with libc++; libstdc++ has it too.
mapfile -t units < <(python3 -c '
import json, sys
for entry in json.load(open(sys.argv[1])):
    if entry["file"].startswith(sys.argv[2] + "/"):
        print(entry["file"])
' "$database" "$root" | sort -u)
printf '%s\0' "${units[@]}" | xargs -0 -P2 -n1 clang-tidy-14 -p build/native --quiet \
  --header-filter="^$root/(src|tests|tools)/" --extra-arg=-DASIO_HAS_CO_AWAIT=1 \
  2> >(grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter' >&2) ||
  status=1

if ((status)); then echo "lint: findings above" >&2; else echo "lint: clean" >&2; fi
exit "$status"
