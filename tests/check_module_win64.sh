#!/bin/sh
# Checks a Win64 module (a PE DLL) with the MinGW object tools: it exports
# OfxGetNumberOfPlugins and OfxGetPlugin and nothing else, and imports only
# DLLs that every Windows has, none of the compiler's runtime DLLs
# (libstdc++, libgcc, winpthread) that a host would not ship.
#
# The C runtime's start-up code for DLLs imports calloc, realloc and free
# for its exit-handler table; that rendering allocates nothing is shown at
# run time by the no-allocation test instead.
set -eu
binary=$1
OBJDUMP=${OBJDUMP:-x86_64-w64-mingw32-objdump}
fail() { echo "FAIL: $*"; exit 1; }

headers=$("$OBJDUMP" -p "$binary")
echo "$headers" | grep -q '^Magic.*020b' || fail "$binary is not a 64-bit PE file"

# The exported names, from the [Ordinal/Name Pointer] table.
exports=$(echo "$headers" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
[ "$exports" = "OfxGetNumberOfPlugins OfxGetPlugin " ] ||
  fail "exports are '$exports'"

imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
for dll in $imports; do
  case $(echo "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll|msvcrt.dll|ucrtbase.dll|api-ms-win-crt-*.dll) ;;
    *) fail "unexpected DLL $dll (all: $imports)" ;;
  esac
done
echo "module ok: exports [$exports] imports [$imports]"
