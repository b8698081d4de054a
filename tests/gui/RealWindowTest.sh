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
# missing, and the Wine runs also when Wine cannot run 32-bit programs (a Wine
# for 64-bit programs only), which WinePrefix.sh finds out.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/window-lib.sh"
mode="$1"
bin="$2"
closer="${3:-}"
partial="${4:-}"
win32="${5:-}"

require_window_tools
[ -x "$closer" ] || skip "no x11_close_window helper (Debian package libx11-dev at build time)"
case "$mode" in
wine*)
    command -v wine >/dev/null || skip "wine is missing (Debian packages wine and wine32:i386)"
    [ -n "${WINEPREFIX:-}" ] || skip "no WINEPREFIX for the test's own Wine prefix"
    # Found out once a run, by the Wine.Prefix fixture, unless it was left out.
    why="$(bash "$here/WinePrefix.sh" runs32 "$WINEPREFIX" "$win32/tovira-host.exe")" ||
        skip "$why"
    ;;
esac

start_work
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

start_display
export QT_QPA_PLATFORM=xcb

"$work/multibuf" >"$work/program.log" 2>"$work/errors.log" &
app=$!

if [ "$mode" = nolibrary ] || [ "$mode" = badzero ]; then
    no_main_window
    if [ "$mode" = nolibrary ]; then
        # Looked for beside the program, then by the system's library search.
        fatal_message "multibuf: 无法加载驱动程序库 libtovira.so："
        grep -qF "（已查找：$work；系统的库搜索路径）" "$work/errors.log" ||
            fail "the message does not say where the program looked: $(cat "$work/errors.log")"
    else
        fatal_message "multibuf: 采集卡报告的零电平超出范围"
    fi
    finish 1
fi

find_main_window

if [ "$mode" = partial ]; then
    click "${cmdExit[@]}"
    fatal_message "找不到函数 StopIntr" 2
    finish 1
fi
if [ "$mode" = winepartial ]; then
    click "${cmdExit[@]}"
    fatal_message "驱动程序库 $work/tovira.dll 中找不到函数 _StopIntr@0" 2
    finish 1
fi

if [ "$mode" = tickfatal ]; then
    set_rate 1
    click "${cmdStart[@]}"
    fatal_message "multibuf: 平均值求和溢出"
    finish 1
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
    fatal_message "multibuf: 驱动程序主机 $work/tovira-host.exe 意外结束：被信号 9 终止"
    finish 1
fi

if [ "$mode" = close ]; then
    # Closed by the window's close box while acquisition runs.
    "$closer" "$window" || fail "the close request was not sent"
else
    click "${cmdStop[@]}"
    sleep 0.3

    # 5000 scans per second: the card runs at 10000 and every 2nd scan is kept.
    set_rate 5000
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
    within 10 test -s "$work/Data.csv" || fail "保存文件 wrote no Data.csv"
    sleep 0.3
    check_csv "$work/Data.csv" 2

    click "${cmdExit[@]}"
fi

finish 0
