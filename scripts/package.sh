#!/usr/bin/env bash
# Builds the Windows program for release and packs it with CPack:
#   dist/nuv-watchdog-<version>-win64.zip        the stripped program, README.md, LICENSE
#   dist/nuv-watchdog-<version>-win64.zip.sha256 its checksum, in sha256sum's format
# Two runs on one commit give the same bytes: every time stamp is the commit's.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# The commit's time stands in for the clock (GCC, and the zip's entries).
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C

build=build/package
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DNUV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"
rm -rf dist/_CPack_Packages
(cd "$build" && cpack -B "$OLDPWD/dist")
rm -rf dist/_CPack_Packages
(cd dist && sha256sum -c ./*-win64.zip.sha256)
