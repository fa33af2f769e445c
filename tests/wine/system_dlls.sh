#!/usr/bin/env bash
# Checks that a Windows program needs no DLL beyond those every Windows has,
# so it runs from a plain unzipped folder.
#   system_dlls.sh PROGRAM.exe...
set -euo pipefail
system_dlls=" kernel32.dll user32.dll gdi32.dll msvcrt.dll advapi32.dll shell32.dll winmm.dll ole32.dll "
# The input method library, part of every Windows since XP.
system_dlls+="imm32.dll "
status=0
for program in "$@"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$dlls" ] || { echo "FAIL: $program lists no DLL at all"; status=1; }
  for dll in $dlls; do
    case $system_dlls in
      *" $dll "*) ;;
      *) echo "FAIL: $program needs $dll, which Windows does not have"; status=1 ;;
    esac
  done
  # The logger carries its manifest (DPI awareness) in its resources.
  if [ "$(basename "$program")" = logger.exe ] &&
    ! x86_64-w64-mingw32-objcopy -O binary -j .rsrc "$program" /dev/stdout | grep -q '<dpiAwareness'; then
    echo "FAIL: $program has no DPI-aware manifest"
    status=1
  fi
  echo "$program: $(echo $dlls)"
done
exit $status
