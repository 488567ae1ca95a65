#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix.
# Usage: wine-run.sh <prefix-dir> <program.exe> [args...]
#        wine-run.sh <prefix-dir> --prepare     (makes the prefix and starts a persistent
#                                               server; stop it with wineserver -k)
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

if [ "${1:-}" = --prepare ]; then
  # Start the server and Wine's own system processes now, detached from any
  # test: the first Wine program starts them, and they would otherwise hold that
  # program's output pipes open (and its test running) until the server exits.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
  exit 0
fi
exec wine "$@"
