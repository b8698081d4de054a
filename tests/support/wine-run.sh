#!/usr/bin/env bash
# Runs a Windows test program under Wine: CTest's emulator for the Windows build.
#   wine-run.sh <prefix> <dll folders, colon-separated> <program> [arguments...]
# The prefix and its server are brought up first if they are not (once, for
# all tests). The folders go on Wine's DLL search path, as Windows paths on
# drive Z:, which Wine maps to /. Wine does not hand QT_* variables to Windows
# programs, so the test programs choose their platform themselves.
set -euo pipefail
export WINEPREFIX="$1" WINEDEBUG="${WINEDEBUG:--all}"
dirs="$2"
shift 2
source "$(dirname "$0")/wine-loader.sh"
bash "$(dirname "$0")/../gui/WinePrefix.sh" setup "$WINEPREFIX" >/dev/null
# A prefix with a display of its own draws there.
if [ -s "$WINEPREFIX.display" ]; then
    export DISPLAY=":$(head -n 1 "$WINEPREFIX.display")"
fi
WINEPATH="Z:${dirs//:/;Z:}"
export WINEPATH="${WINEPATH//\//\\}"
exec "$WINE" "$@"
