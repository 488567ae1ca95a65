#!/usr/bin/env bash
# Runs a Windows test program under Wine inside a network namespace of its
# own that holds tun devices named utun-nuv and NuvCore, so that Wine's IP
# Helper resolves those adapter names. The namespace gets a Wine prefix of its
# own, so that its wineserver and network driver start inside it.
# Usage: run_in_netns.sh <prefix-dir> <program.exe> [args...]
set -euo pipefail
prefix=$1
shift
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! ip netns list >/dev/null 2>&1; then
  echo "SKIPPED: a network namespace needs root and iproute2"
  exit 0
fi

here=$(cd "$(dirname "$0")" && pwd)
ns=nuv-test-$$
cleanup() {
  WINEPREFIX=$prefix ip netns exec "$ns" wineserver -k >/dev/null 2>&1 || true
  ip netns del "$ns" 2>/dev/null || true
}
trap cleanup EXIT

ip netns add "$ns"
ip netns exec "$ns" ip link set lo up
for dev in utun-nuv NuvCore; do
  ip netns exec "$ns" ip tuntap add dev "$dev" mode tun
  ip netns exec "$ns" ip link set "$dev" up
done
# A live address and its route, on NuvCore, which no test journals: the
# read-back then has real state to find in place.
ip netns exec "$ns" ip addr add 10.77.0.1/16 dev NuvCore

# No wineserver of this prefix may run outside the namespace.
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
ip netns exec "$ns" env NUV_TEST_ADAPTERS_RESOLVE=1 "$here/../../cmake/wine-run.sh" "$prefix" "$@"
