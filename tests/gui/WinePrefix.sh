#!/usr/bin/env bash
# The Wine prefix the build's Wine tests share, made once per build folder
# (it takes a few seconds and about 600 MB), and its server ended after them.
#   WinePrefix.sh setup <prefix>     creates it unless it is there
#   WinePrefix.sh cleanup <prefix>   ends its wineserver
# Without Wine there is nothing to do: the tests that need it skip.
set -euo pipefail
action="$1"
export WINEPREFIX="$2" WINEDEBUG=-all
command -v wine >/dev/null || { echo "wine is missing: nothing to prepare"; exit 0; }
case "$action" in
setup)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        # No display is needed, and none is asked for.
        DISPLAY= wineboot --init >/dev/null 2>&1
        wineserver -w
    fi
    echo "Wine prefix ready: $WINEPREFIX"
    ;;
cleanup)
    wineserver -k 2>/dev/null || true
    ;;
esac
