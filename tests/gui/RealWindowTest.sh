#!/usr/bin/env bash
# The built program on a virtual display, used as a person would use it: found
# by its caption, clicked and typed into with xdotool at the controls' stored
# places (twips / 15), left by its exit button or by closing the window.
#
#   RealWindowTest.sh exit  <bin folder> <x11_close_window>
#       start, stop, type a new rate, start again, change the channel and the
#       point count with the arrows, stop, save, check Data.csv, press 退出
#   RealWindowTest.sh close <bin folder> <x11_close_window>
#       start, then close the window while acquisition runs
#   RealWindowTest.sh nolibrary <bin folder> <x11_close_window>
#   RealWindowTest.sh badzero <bin folder> <x11_close_window>
#       a program without its card library beside it, or on a card that
#       reports a zero level of NaN: one message box and the same line on
#       standard error, no main window, and status 1 once the box is closed
#   RealWindowTest.sh partial <bin folder> <x11_close_window> <library>
#       a card library with ConfigInfo only, put in place of the card's: the
#       window opens; 退出 fails at StopIntr, and so does the close that
#       follows, yet only one message box shows; status 1
#   RealWindowTest.sh tickfatal <bin folder> <x11_close_window>
#       a card whose zero level is so large that a hundred pre-filled points
#       overflow the average: start at 1 scan/s, and the first tick ends the
#       program with one message while the card still runs; status 1
#
#   RealWindowTest.sh wineexit <bin folder> <x11_close_window> - <win32 folder>
#       the exit run, on a folder holding multibuf, tovira-host.exe and the
#       simulated card built as a 32-bit tovira.dll (no libtovira.so): the
#       program reaches the card through the host under Wine
#   RealWindowTest.sh winekilled <bin folder> <x11_close_window> - <win32 folder>
#       the card host under Wine is killed while acquisition runs: within two
#       seconds the program shows its one message naming the host and the
#       cause, and ends with status 1 once the box is closed
#   RealWindowTest.sh winepartial <bin folder> <x11_close_window> <dll> <win32 folder>
#       the partial run with a 32-bit tovira.dll that has ConfigInfo only,
#       through the host under Wine
#
# The first two and wineexit must end with status 0; all must leave nothing
# running, the card host included.
# The program and the card library run from a copy in a temporary folder, so
# the Data.csv of the build is not touched. Exits 77 (skipped) when a tool is
# missing.
set -euo pipefail
mode="$1"
bin="$2"
closer="${3:-}"
partial="${4:-}"
win32="${5:-}"

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAILED: $*" >&2
    for log in program.log errors.log; do
        if [ -s "${work:-}/$log" ]; then
            echo "--- $log:" >&2
            cat "$work/$log" >&2
        fi
    done
    exit 1
}

command -v Xvfb >/dev/null || skip "Xvfb is missing (Debian package xvfb)"
command -v xdotool >/dev/null || skip "xdotool is missing (Debian package xdotool)"
command -v import >/dev/null || skip "import is missing (Debian package imagemagick)"
[ -x "$closer" ] || skip "no x11_close_window helper (Debian package libx11-dev at build time)"
case "$mode" in
wine*)
    command -v wine >/dev/null || skip "wine is missing (Debian packages wine and wine32:i386)"
    [ -n "${WINEPREFIX:-}" ] || skip "no WINEPREFIX for the test's own Wine prefix"
    ;;
esac

work="$(mktemp -d)"
xvfb=""
app=""
cleanup() {
    # Only a failed run gets here with the program still up.
    if [ -n "$app" ]; then
        kill "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
    fi
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

cp "$bin/multibuf" "$work/"
case "$mode" in
nolibrary) ;;
partial) cp "$partial" "$work/libtovira.so" ;;
wineexit | winekilled) cp "$win32/tovira-host.exe" "$win32/tovira.dll" "$work/" ;;
winepartial)
    cp "$win32/tovira-host.exe" "$work/"
    cp "$partial" "$work/tovira.dll"
    ;;
*) cp "$bin/libtovira.so" "$work/" ;;
esac
[ "$mode" = badzero ] && export TOVIRA_SIM_ZERO=nan
[ "$mode" = tickfatal ] && export TOVIRA_SIM_ZERO=2147483520

# A display number of Xvfb's own choosing, so parallel runs never collide.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 200); do
    grep -q . "$work/display" 2>/dev/null && break
    sleep 0.05
done
grep -q . "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
export QT_QPA_PLATFORM=xcb

"$work/multibuf" >"$work/program.log" 2>"$work/errors.log" &
app=$!

caption='^Velmarq  综合数据采集例程$'
running() { kill -0 "$app" 2>/dev/null; }
stopped() { ! running; }

# Waits up to $1 seconds for the command after it to succeed.
within() {
    local limit=$(($1 * 20))
    shift
    for _ in $(seq "$limit"); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}

# Ends a run that has left; checks its status and that nothing is left over.
finish() {
    within 15 stopped || fail "the program did not end"
    local status=0
    wait "$app" || status=$?
    app=""
    [ "$status" -eq "$1" ] || fail "the program ended with status $status, not $1"
    # The card host ends with the program, within a moment.
    within 5 eval '! pgrep -f "$work/" >/dev/null' ||
        fail "something of the program is still running: $(pgrep -af "$work/")"
    [ -z "$(xdotool search --name "$caption" 2>/dev/null || true)" ] ||
        fail "the window is still there"
    echo "PASSED ($mode)"
    exit 0
}

# The one message of a fatal error: a box captioned MultiBuf and the same
# text on standard error. Closing the box ends the program with status 1.
fatalMessage() {
    local lines="${2:-1}"
    local box=""
    for _ in $(seq 300); do
        box="$(xdotool search --onlyvisible --name '^MultiBuf$' 2>/dev/null | head -n 1 || true)"
        [ -n "$box" ] && break
        running || fail "the program ended without showing its message"
        sleep 0.05
    done
    [ -n "$box" ] || fail "no message box"
    grep -qF "$1" "$work/errors.log" || fail "standard error lacks '$1': $(cat "$work/errors.log")"
    # The box's OK button has the focus: Enter closes it, as a person would.
    # A second box would keep the program from ending.
    xdotool windowfocus --sync "$box"
    xdotool key Return
    within 15 stopped || fail "the program did not end after its message"
    [ "$(grep -c '^multibuf: ' "$work/errors.log")" -eq "$lines" ] ||
        fail "not $lines lines on standard error: $(cat "$work/errors.log")"
    finish 1
}

if [ "$mode" = nolibrary ] || [ "$mode" = badzero ]; then
    # The main window never opens.
    sleep 0.5
    [ -z "$(xdotool search --onlyvisible --name "$caption" 2>/dev/null || true)" ] ||
        fail "the main window opened after a fatal error"
    if [ "$mode" = nolibrary ]; then
        fatalMessage "multibuf: 无法加载驱动程序库 $work/tovira"
    else
        fatalMessage "multibuf: 采集卡报告的零电平超出范围"
    fi
fi

window=""
for _ in $(seq 300); do
    window="$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || fail "the program ended before its window appeared"
    sleep 0.05
done
[ -n "$window" ] || fail "no window captioned 'Velmarq  综合数据采集例程'"
sleep 0.5

# Window pixels of the controls, from their stored twips / 15.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
cmdStart=(237 449)
cmdStop=(342 449)
cmdExit=(450 449)
CmdSave=(666 50)
txtSampFreq=(335 39)
UpDownChnUp=(515 19)   # frame at (399, 3), control at (108, 9), 16 x 28: upper half
UpDownChnDown=(515 33) # lower half
UpDownXNumUp=(515 46)  # control at (108, 36)
UpDownXNumDown=(515 60)
txtPicChnArea=25x19+480+18
txtXNumArea=46x18+459+45

# A fingerprint of what a region of the window shows.
looks() { import -window "$window" -crop "$1" +repage rgb:- | md5sum; }

if [ "$mode" = partial ]; then
    click "${cmdExit[@]}"
    fatalMessage "找不到函数 StopIntr" 2
fi
if [ "$mode" = winepartial ]; then
    click "${cmdExit[@]}"
    fatalMessage "驱动程序库 $work/tovira.dll 中找不到函数 _StopIntr@0" 2
fi

if [ "$mode" = tickfatal ]; then
    click "${txtSampFreq[@]}"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 30 1
    click "${cmdStart[@]}"
    fatalMessage "multibuf: 平均值求和溢出"
fi

click "${cmdStart[@]}"
sleep 1

if [ "$mode" = winekilled ]; then
    host="$(pgrep -f "$work/tovira-host.exe" | head -n 1 || true)"
    [ -n "$host" ] || fail "no card host running"
    kill -KILL "$host"
    killed=$(date +%s%N)
    within 2 eval 'xdotool search --onlyvisible --name "^MultiBuf$" >/dev/null 2>&1' ||
        fail "no message within 2 seconds of the host's end"
    echo "message $(( ($(date +%s%N) - killed) / 1000000 )) ms after the host was killed"
    fatalMessage "multibuf: 驱动程序主机 $work/tovira-host.exe 意外结束：被信号 9 终止"
fi

if [ "$mode" = close ]; then
    # Closed by the window's close box while acquisition runs.
    "$closer" "$window" || fail "the close request was not sent"
else
    click "${cmdStop[@]}"
    sleep 0.3

    # 5000 scans per second: the card runs at 10000 and every 2nd scan is kept.
    click "${txtSampFreq[@]}"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 30 5000
    sleep 0.2
    click "${cmdStart[@]}"
    sleep 0.3

    channelBefore="$(looks $txtPicChnArea)"
    click "${UpDownChnUp[@]}"
    click "${UpDownChnUp[@]}"
    click "${UpDownChnDown[@]}"
    sleep 0.3
    [ "$(looks $txtPicChnArea)" != "$channelBefore" ] || fail "the channel arrows changed nothing"

    pointsBefore="$(looks $txtXNumArea)"
    click "${UpDownXNumUp[@]}"
    sleep 0.3
    pointsUp="$(looks $txtXNumArea)"
    [ "$pointsUp" != "$pointsBefore" ] || fail "the point count's up arrow changed nothing"
    click "${UpDownXNumUp[@]}"
    click "${UpDownXNumDown[@]}"
    sleep 0.3
    [ "$(looks $txtXNumArea)" = "$pointsUp" ] || fail "up then down did not come back"

    # 10000 kept points take two seconds at 5000 per second.
    sleep 3
    click "${cmdStop[@]}"
    sleep 0.3
    click "${CmdSave[@]}"
    csv="$work/Data.csv"
    within 10 test -s "$csv" || fail "保存文件 wrote no Data.csv"
    sleep 0.3

    # The title in GBK, the header, 10000 rows numbered from 0, each with four
    # codes and a trailing comma, every line ended by CR LF. Channel 4 of the
    # simulated card counts scans, so in the file it steps by 2 (mod 65536).
    title="$(head -n 1 "$csv" | od -An -tx1 | tr -d ' \n')"
    [ "$title" = "22cafdbeddb2c9bcafbde1b9fb220d0a" ] || fail "title line bytes: $title"
    [ "$(sed -n 2p "$csv")" = $',"CH1","CH2","CH3","CH4"\r' ] || fail "header line"
    [ "$(tail -c 2 "$csv" | od -An -tx1 | tr -d ' \n')" = "0d0a" ] || fail "no CR LF at the end"
    report="$(LC_ALL=C awk -v step=2 '
        NR <= 2 { next }
        !/^[0-9]+,[0-9]+,[0-9]+,[0-9]+,[0-9]+,\r$/ { bad = "row " NR - 3 ": " $0; exit }
        {
            split($0, f, ",")
            if (f[1] != NR - 3) { bad = "row " NR - 3 ": numbered " f[1]; exit }
            if (NR > 3 && (f[5] - counter + 65536) % 65536 != step) {
                bad = "row " NR - 3 ": counter " counter " then " f[5]; exit
            }
            counter = f[5]
            rows++
        }
        END { print bad != "" ? bad : rows != 10000 ? rows " rows" : "" }' "$csv")"
    [ -z "$report" ] || fail "Data.csv: $report"

    click "${cmdExit[@]}"
fi

finish 0
