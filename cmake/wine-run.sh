#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix.
# Usage: wine-run.sh <prefix-dir> <program.exe> [args...]
#        wine-run.sh <prefix-dir> --prepare     (only makes the prefix)
# The prefix is made once, quietly, under a lock, so that parallel tests and
# test discovery never see Wine's first-start messages.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

if [ ! -f "$prefix/.nuv-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.nuv-ready" ]; then
    wineboot -i >/dev/null 2>&1 || true
    # A crashing test must end, not wait on a crash dialog.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
    wineserver -w
    touch "$prefix/.nuv-ready"
  fi
  flock -u 9
  exec 9>&-
fi

if [ "${1:-}" = --prepare ]; then exit 0; fi
exec wine "$@"
