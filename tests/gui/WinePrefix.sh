#!/usr/bin/env bash
# The Wine prefix the build's Wine tests share, made once per build folder
# (it takes a few seconds and about 600 MB), and its server ended after them.
# scripts/bench uses it the same way for its own prefix.
#   WinePrefix.sh setup <prefix> [tovira-host.exe]
#       creates the prefix unless it is there, and brings its server up for
#       good (until cleanup) unless it is; given the 32-bit card host, also
#       finds out whether this Wine runs 32-bit programs (see runs32). Quick
#       when all is there, and safe to call from several tests at once
#   WinePrefix.sh runs32 <prefix> <tovira-host.exe>
#       status 0 when this Wine runs 32-bit programs; otherwise prints why,
#       then Wine's own last words, and ends with status 1. Found out once,
#       then kept beside the prefix until cleanup
#   WinePrefix.sh display <prefix>
#       gives the prefix a virtual display of its own (an Xvfb, until
#       cleanup) and prints its number: for Windows programs that show
#       windows, which Wine draws on the display its desktop process started
#       with, the first time the server came up. Call it before setup
#   WinePrefix.sh cleanup <prefix>
#       ends its wineserver and display, and forgets what runs32 found out
# Without Wine there is nothing to do: the tests that need it skip.
set -euo pipefail
action="$1"
export WINEPREFIX="$2" WINEDEBUG=-all
host="${3:-}"
verdict="$WINEPREFIX.runs32"
command -v wine >/dev/null || { echo "wine is missing: nothing to prepare"; exit 0; }
source "$(dirname "$0")/../support/wine-loader.sh"

# Whether Wine runs the 32-bit card host, asked of the host itself: a Wine
# for 64-bit programs only neither refuses to start it nor fails (Debian's
# Wine 8 ends at once with status 0, having printed nothing with
# WINEDEBUG=-all), so only an answer tells. The host gets one call
# (GetLastADError) and then its input closed; a host that runs answers with
# status 0 (1 without its library) and ends with status 0. Prints the
# verdict, "yes" or why not followed by the last lines Wine printed, and
# keeps it.
probe() {
    [ -f "$host" ] || { echo "no card host $host to try Wine with" >&2; exit 1; }
    local work status=0 answer said how
    work="$(mktemp -d)"
    printf '\5\0\0\0' >"$work/call"
    # Wine's error channel on, so a refusal comes with its reason.
    WINEDEBUG=fixme-all DISPLAY= timeout 120 "$WINE" "$host" <"$work/call" >"$work/out" \
        2>"$work/err" || status=$?
    answer="$(od -An -tx1 -N4 "$work/out" | tr -d ' \n')"
    if [ "$status" -eq 0 ] && { [ "$answer" = 00000000 ] || [ "$answer" = 01000000 ]; }; then
        echo yes >"$work/verdict"
    else
        how="ended with status $status"
        [ "$status" -eq 124 ] && how="did not end within 120 s"
        said="answered nothing"
        [ -n "$answer" ] && said="answered$(od -An -tx1 -N16 "$work/out" | tr -s ' \n' ' ')"
        {
            echo "this Wine cannot run the 32-bit $(basename "$host") in $WINEPREFIX:" \
                "given a call, it $said and $how (${WINE_32BIT_REFUSED:-32-bit programs" \
                "need Wine's 32-bit part, Debian's wine32:i386, installed when the prefix" \
                "was made})"
            grep -v '^[[:space:]]*$' "$work/err" | tail -n 8 | sed 's/^/    wine: /' || true
        } >"$work/verdict"
    fi
    cat "$work/verdict"
    # Whole or not at all, for a test reading it at the same time.
    mv "$work/verdict" "$verdict"
    rm -rf "$work"
}

# Prints the verdict, finding it out unless this run already has.
runs32() {
    cat "$verdict" 2>/dev/null || probe
}

# The prefix's own display, if it has one.
display_file="$WINEPREFIX.display"
own_display() {
    [ -s "$display_file" ] && kill -0 "$(sed -n 2p "$display_file")" 2>/dev/null &&
        echo ":$(head -n 1 "$display_file")"
}

# Whether the prefix's service processes run, which they do while its server
# is up.
services_up() {
    local pid
    for pid in $(pgrep -f 'services\.exe' || true); do
        { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
            return 0
    done
    return 1
}

case "$action" in
setup)
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        # No display is needed, and none is asked for.
        DISPLAY= "$WINE" wineboot --init >/dev/null 2>&1 9>&-
        wineserver -w
    fi
    if ! services_up; then
        # The server stays up between tests, and the service processes that
        # the first Windows program starts keep the output that program had,
        # for as long as the server runs: so that is nothing, not a test's
        # pipe, which its runner would wait on for ever.
        wineserver -k 2>/dev/null || true
        # Nor may they hold the lock.
        wineserver -p </dev/null >/dev/null 2>&1 9>&-
        DISPLAY="$(own_display || true)" "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    fi
    flock -u 9
    echo "Wine prefix ready: $WINEPREFIX"
    if [ -n "$host" ]; then
        # Found out again: Wine may have changed since the last run.
        answer="$(probe)"
        [ "$answer" = yes ] && echo "This Wine runs 32-bit programs." ||
            printf '%s\nThe runs that need it skip.\n' "$answer"
    fi
    ;;
runs32)
    answer="$(runs32)"
    [ "$answer" = yes ] && exit 0
    echo "$answer"
    exit 1
    ;;
display)
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if ! own_display >/dev/null; then
        # Its own session, and nothing of the caller's output, so that CTest
        # does not wait for it as part of the test that started it.
        # Nor the lock, which it would hold for as long as it runs.
        # -noreset, as in window-lib.sh: tests come and go as its clients.
        setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file.new" \
            </dev/null >/dev/null 2>&1 9>&- &
        echo "$!" >"$display_file.pid"
        for _ in $(seq 200); do
            grep -q . "$display_file.new" 2>/dev/null && break
            sleep 0.05
        done
        grep -q . "$display_file.new" || { echo "Xvfb did not start" >&2; exit 1; }
        # A server that came up without this display must come up again.
        wineserver -k 2>/dev/null || true
        { head -n 1 "$display_file.new"; cat "$display_file.pid"; } >"$display_file"
        rm -f "$display_file.new" "$display_file.pid"
    fi
    own_display
    ;;
cleanup)
    wineserver -k 2>/dev/null || true
    if [ -s "$display_file" ]; then
        kill "$(sed -n 2p "$display_file")" 2>/dev/null || true
    fi
    rm -f "$verdict" "$WINEPREFIX.lock" "$display_file"
    ;;
esac
