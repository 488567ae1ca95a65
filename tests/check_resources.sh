#!/usr/bin/env bash
# Reads the version resource and the manifest back from the built program and
# checks them against the project's version.
# Usage: check_resources.sh <program.exe> <version> <copyright>
set -euo pipefail
program=$1 version=$2 copyright=$3
IFS=. read -r major minor patch tweak <<<"$version"
resources=$(x86_64-w64-mingw32-windres -J coff -O rc -i "$program")
status=0
expect() {
  if ! grep -qF -- "$1" <<<"$resources"; then
    echo "missing from the resources: $1"
    status=1
  fi
}
expect "FILEVERSION $major, $minor, $patch, ${tweak:-0}"
expect "PRODUCTVERSION $major, $minor, $patch, ${tweak:-0}"
expect "VALUE \"FileVersion\", \"$version\""
expect "VALUE \"ProductVersion\", \"$version\""
expect "VALUE \"ProductName\", \"nuv-watchdog\""
expect "VALUE \"OriginalFilename\", \"nuv-watchdog.exe\""
expect "VALUE \"LegalCopyright\", \"$copyright\""
expect 'VALUE "FileDescription", "'
expect 'requestedExecutionLevel level=""asInvoker"" uiAccess=""false""'
expect '<longPathAware xmlns=""http://schemas.microsoft.com/SMI/2016/WindowsSettings"">true</longPathAware>'
# Windows 8, 8.1, 10 and 11.
for os in 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
          8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  expect "<supportedOS Id=\"\"{$os}\"\"/>"
done
# Not Windows 7: without safe DLL search the adapter cleanup finds nothing,
# and a console handle in a child's handle list makes every undo fail there.
if grep -qiF 35138b9a-5d96-4fbd-8e2d-a2440225f93a <<<"$resources"; then
  echo "the manifest still claims Windows 7"
  status=1
fi
# A second manifest (a toolchain's default one) would leave Windows to pick.
manifests=$(grep -c '^1 24 /\* RT_MANIFEST \*/' <<<"$resources" || true)
if [ "$manifests" != 1 ]; then
  echo "expected exactly one manifest, found $manifests"
  status=1
fi
versions=$(grep -c 'VERSIONINFO$' <<<"$resources" || true)
if [ "$versions" != 1 ]; then
  echo "expected exactly one version resource, found $versions"
  status=1
fi
[ "$status" -eq 0 ] && echo "$program: version $version, one manifest"
exit $status
