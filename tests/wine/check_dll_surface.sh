#!/usr/bin/env bash
# The plug-in DLL as the media player sees it: it exports winampGetInModule2,
# the extended file-info query and the extended read, by their undecorated
# names, and nothing else, and imports only from DLLs that every Windows has.
#   check_dll_surface.sh OBJDUMP PLUGIN_DLL
set -u
objdump=$1
dll=$2
fail() { echo "FAIL: $*"; exit 1; }

[ -f "$dll" ] || fail "no plug-in at $dll"
dump=$("$objdump" -p "$dll") || fail "$objdump cannot read $dll"

exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p')
expected="winampGetExtendedFileInfo
winampGetExtendedRead_close
winampGetExtendedRead_getData
winampGetExtendedRead_open
winampGetExtendedRead_setTime
winampGetInModule2"
[ "$(LC_ALL=C sort <<<"$exports")" = "$expected" ] ||
    fail "exports are [$(echo $exports)], expected [$(echo $expected)] only"

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || fail "no import table found"
allowed=" kernel32.dll user32.dll comctl32.dll gdi32.dll msvcrt.dll advapi32.dll ntdll.dll "
for name in $imports; do
    case "$allowed" in
    *" $name "*) ;;
    *) fail "imports from $name, which is not a system DLL" ;;
    esac
done
echo "exports: $(echo $exports); imports: $(echo $imports)"
