#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that Windows does not ship.
set -euo pipefail
program=$1
dlls=$(x86_64-w64-mingw32-objdump -p "$program" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
echo "$program imports:" $dlls
objdump_format=$(x86_64-w64-mingw32-objdump -f "$program" | grep -o 'pei-x86-64' || true)
[ "$objdump_format" = pei-x86-64 ] || { echo "not a PE32+ x86-64 program"; exit 1; }
subsystem=$(x86_64-w64-mingw32-objdump -p "$program" | awk '/^Subsystem/ {print $2}')
[ "$subsystem" = 00000003 ] || { echo "not a console program (subsystem $subsystem)"; exit 1; }
status=0
for dll in $dlls; do
  case "$dll" in
    kernel32.dll|advapi32.dll|ntdll.dll|msvcrt.dll|ucrtbase.dll|api-ms-win-*|user32.dll|shell32.dll|iphlpapi.dll|ws2_32.dll|bcrypt.dll|ole32.dll|rpcrt4.dll|mswsock.dll) ;;
    *) echo "not a system DLL: $dll"; status=1 ;;
  esac
done
exit $status
