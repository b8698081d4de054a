#!/usr/bin/env bash
# Runs a Windows test program under Wine: CTest's emulator for the Windows build.
#   wine-run.sh <prefix> <dll folders, colon-separated> <program> [arguments...]
# The prefix and its server are brought up first if they are not (once, for
# all tests). The folders go on Wine's DLL search path, as Windows paths on
# drive Z:, which Wine maps to /. Wine does not hand QT_* variables to Windows
# programs, so the test programs choose their platform themselves. A start
# that Wine itself fails is tried again (below).
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

# Now and then, on a loaded machine, Wine fails to start a program at all:
# it says "Application could not be started, ... ShellExecuteEx failed" on
# standard error before any of the program has run. Such a start is tried
# again, three times in all; whatever the program itself does is passed on
# as it is, its standard error after it has ended.
errors="$(mktemp)"
trap 'rm -f "$errors"' EXIT
for attempt in 1 2 3; do
    status=0
    "$WINE" "$@" 2>"$errors" || status=$?
    if [ "$status" -eq 0 ] || [ "$attempt" -eq 3 ] || ! grep -q "ShellExecuteEx failed" "$errors"; then
        cat "$errors" >&2
        exit "$status"
    fi
    echo "wine-run.sh: Wine could not start $1 (try $attempt of 3): $(tr '\n' ' ' <"$errors")" >&2
done
