#!/usr/bin/env bash
# Checks every Windows executable of the build: it imports only libraries
# that Windows always loads from its own folder (KnownDLLs), so that no DLL
# planted beside it is ever loaded, and it is built for ASLR and DEP.
#   check-imports.sh FILE|DIR...   (a folder: every .exe and .dll below it)
set -uo pipefail
files=()
for a in "$@"; do
  if [ -d "$a" ]; then
    while IFS= read -r f; do files+=("$f"); done < <(find "$a" \( -name wine -o -name CMakeFiles -o -name '*-tree' -o -name 'cli-*' \) -prune -o \
      -type f \( -iname '*.exe' -o -iname '*.dll' \) -print | sort)
  else
    files+=("$a")
  fi
done
allowed=" advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll gdi32.dll gdiplus.dll imagehlp.dll imm32.dll
 kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ole32.dll oleaut32.dll psapi.dll rpcrt4.dll sechost.dll
 setupapi.dll shcore.dll shell32.dll shlwapi.dll user32.dll wldap32.dll ws2_32.dll "
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
objdump64=${OBJDUMP64:-x86_64-w64-mingw32-objdump}
status=0
for f in "${files[@]}"; do
  dump=$("$objdump" -p "$f" 2>/dev/null || "$objdump64" -p "$f") || { echo "FAIL $f: objdump failed"; status=1; continue; }
  for dll in $(grep -E '^\s*DLL Name:' <<<"$dump" | awk '{print tolower($3)}'); do
    if [[ "$allowed" != *" $dll "* ]]; then
      echo "FAIL $f imports $dll, which is not a KnownDLL: load it with NyLoadSystemLibrary"
      status=1
    fi
  done
  for flag in DYNAMIC_BASE NX_COMPAT; do
    grep -q "$flag" <<<"$dump" || { echo "FAIL $f is not linked with $flag"; status=1; }
  done
done
echo "checked ${#files[@]} executables"
exit $status
