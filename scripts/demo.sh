#!/usr/bin/env bash
# Builds the Windows program and shows its main job under Wine: an orderly
# shutdown, a crash whose journal is rolled back, a crash in which one undo
# fails, a power cut after which the client's next start runs --plan and
# --recover, and tools that lie, caught by reading each change back. As root, it runs in a network namespace with tun devices named
# like the client's adapters, so that Wine resolves them and the watchdog
# counts the adapters it closes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target nuv-demo >/dev/null
if [ "$(id -u)" -eq 0 ] && ip netns list >/dev/null 2>&1; then
  echo "demo: in a network namespace with tun devices utun-nuv and NuvCore" >&2
  exec tests/netns/run_in_netns.sh "$PWD/build/windows/wineprefix-netns" build/windows/bin/nuv-demo.exe
fi
echo "demo: not root, so no network namespace: the stand-in adapters will not resolve under Wine" >&2
exec cmake/wine-run.sh "$PWD/build/windows/wineprefix" build/windows/bin/nuv-demo.exe
