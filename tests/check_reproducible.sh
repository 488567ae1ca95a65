#!/usr/bin/env bash
# Builds the program a second time, from a copy of the sources in another
# folder into another build folder, and fails unless the result is
# byte-identical to the program already built. Then packs that build twice,
# with the copy's README and licence given other times in between, and fails
# unless both zips are byte-identical.
# Usage: check_reproducible.sh <source-dir> <program.exe> <toolchain-file> <build-type> [cxx-flags]
set -euo pipefail
source_dir=$1 reference=$2 toolchain=$3 build_type=$4 cxx_flags=${5:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/nuv-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./.git -cf - . |
  tar -C "$work/src" -xf -

cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE="$build_type" -DCMAKE_CXX_FLAGS="$cxx_flags" -DNUV_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/build" >/dev/null

rebuilt=$work/build/bin/nuv-watchdog.exe
if ! cmp -s "$reference" "$rebuilt"; then
  echo "not reproducible: $reference and a rebuild in $work differ in $(cmp -l "$reference" "$rebuilt" | wc -l) bytes"
  cmp "$reference" "$rebuilt" || true
  exit 1
fi
echo "rebuilt in another folder: $(sha256sum <"$rebuilt" | cut -c1-64)"

# Any fixed time will do; the package script takes the commit's.
export SOURCE_DATE_EPOCH=1700000000
(cd "$work/build" && cpack -B "$work/dist1" >/dev/null)
touch -d @1600000000 "$work/src/README.md" "$work/src/LICENSE"
(cd "$work/build" && TZ=Asia/Tokyo cpack -B "$work/dist2" >/dev/null)
zip_name=$(basename "$(ls "$work"/dist1/*-win64.zip)")
if ! cmp "$work/dist1/$zip_name" "$work/dist2/$zip_name"; then
  echo "not reproducible: two packs of one build differ"
  exit 1
fi
entries=$(cmake -E tar tf "$work/dist1/$zip_name" | sed 's|^[^/]*/||' | sort | tr '\n' ' ')
if [ "$entries" != "LICENSE README.md nuv-watchdog.exe " ]; then
  echo "unexpected package contents: $entries"
  exit 1
fi
echo "packed twice: $(sha256sum <"$work/dist1/$zip_name" | cut -c1-64) $zip_name ($entries)"
