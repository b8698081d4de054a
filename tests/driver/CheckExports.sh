#!/usr/bin/env bash
# The 32-bit card library exports exactly the maker's seven decorated names
# and the tools' one: no plain, half-decorated or extra names.
#   CheckExports.sh <objdump> <tovira.dll>
set -euo pipefail
names="$("$1" -p "$2" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | awk '$1 == "[" { print $3 }' | sort | tr '\n' ' ')"
expected="SimDroppedBlocks _ADResult@4 _ConfigInfo@32 _GetLastADError@0 _Initial@16 _QueryBuf@0 _StartIntr@28 _StopIntr@0 "
if [ "$names" != "$expected" ]; then
    echo "exports: $names"
    echo "wanted:  $expected"
    exit 1
fi
echo "exports: $names"
