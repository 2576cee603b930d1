#!/usr/bin/env bash
# Checks a built plug-in DLL's export and import tables without running it (as
# tests/plugin/plugin_export_test.cc does where the DLL can be loaded): exactly
# one export, load_tav_personalized_offers, and imports of system DLLs only.
# Usage: scripts/check-dll-interface.sh <dll>
set -euo pipefail
dll=$1
# The mingw-w64 objdump that knows the DLL's machine (x86 or x64).
headers=
for objdump in i686-w64-mingw32-objdump x86_64-w64-mingw32-objdump; do
  headers=$("$objdump" -p "$dll" 2>/dev/null) && break
done
if [ -z "$headers" ]; then
  echo "check-dll-interface: cannot read $dll" >&2
  exit 1
fi
# The export names follow the "[Ordinal/Name Pointer] Table" line, one "[ n] name" each.
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
               on && /^\t\[ *[0-9]+\]/ { print $NF; next }
               on { on = 0 }' <<<"$headers")
imports=$(awk '/DLL Name:/ { print tolower($3) }' <<<"$headers")
status=0
if [ "$exports" != load_tav_personalized_offers ]; then
  echo "check-dll-interface: $dll exports [$(tr '\n' ' ' <<<"$exports")], expected only load_tav_personalized_offers" >&2
  status=1
fi
if [ -z "$imports" ]; then
  echo "check-dll-interface: $dll has no import table" >&2
  status=1
fi
for library in $imports; do
  case $library in
    kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | ntdll.dll | api-ms-win-*) ;;
    *)
      echo "check-dll-interface: $dll imports $library, not a system DLL" >&2
      status=1
      ;;
  esac
done
[ $status -eq 0 ] && echo "check-dll-interface: $dll exports load_tav_personalized_offers only; imports $(tr '\n' ' ' <<<"$imports")"
exit $status
