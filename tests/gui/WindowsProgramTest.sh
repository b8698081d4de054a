#!/usr/bin/env bash
# The Windows program folder (what a user unzips), run under 64-bit Wine on
# its prefix's virtual display and used with xdotool as a person would:
#   WindowsProgramTest.sh run <folder> <hold_file.exe> <win32 folder>
#       start, stop, a new rate, start, stop, save: Data.csv beside
#       multibuf.exe has 10000 rows with a continuous counter; then "退出"
#       ends the program with status 0
#   WindowsProgramTest.sh heldsave ...
#       Data.csv held open by another Windows program without write or delete
#       sharing, as a spreadsheet holds it: the save fails and leaves the file
#       byte for byte and no other file; once it lets go, the save works
#   WindowsProgramTest.sh nolibrary ...
#       no tovira.dll anywhere: one message naming the library and the folders
#       searched, then a non-zero status
#   WindowsProgramTest.sh notalibrary ...
#       a text file as tovira.dll beside the program: one message saying the
#       file is no library, then a non-zero status
#   WindowsProgramTest.sh noexports ...
#       a 64-bit DLL without the card's functions (one of the folder's
#       runtime DLLs) as tovira.dll: one message naming ConfigInfo and the
#       system's reason with its number
#   WindowsProgramTest.sh nohost ...
#       a 32-bit tovira.dll and no tovira-host.exe: one message naming the
#       host, its path written as Windows writes paths
#   WindowsProgramTest.sh systemdll ...
#       tovira.dll only in the Wine prefix's system folder: found there
#   WindowsProgramTest.sh host32 ...
#       the maker's route: the 32-bit simulated card through the 32-bit
#       tovira-host.exe beside the program (needs Wine for 32-bit programs)
#   WindowsProgramTest.sh host32killed ...
#       the same route, with multibuf.exe killed outright while acquisition
#       runs: its host ends within 2 seconds
# Every run must leave nothing of the program running. The folder is copied
# first, so the build's own is never touched. Exits 77 (skipped) when a tool is
# missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/window-lib.sh"
mode="$1"
folder="$2"
holder="${3:-}"
win32="${4:-}"

require_window_tools
command -v wine >/dev/null || skip "wine is missing (Debian packages wine and wine64)"
source "$here/../support/wine-loader.sh"
[ -n "${WINEPREFIX:-}" ] || skip "no WINEPREFIX for the test's own Wine prefix"
[ -f "$folder/multibuf.exe" ] || fail "no program folder at $folder"

start_work
cp -r "$folder/." "$work/"
system_dll="$WINEPREFIX/drive_c/windows/system32/tovira.dll"
case "$mode" in
nolibrary) rm "$work/tovira.dll" ;;
notalibrary) printf 'not a library\r\n' >"$work/tovira.dll" ;;
noexports) cp "$work/libwinpthread-1.dll" "$work/tovira.dll" ;;
nohost)
    cp "$win32/tovira.dll" "$work/tovira.dll"
    rm "$work/tovira-host.exe"
    ;;
systemdll)
    mv "$work/tovira.dll" "$system_dll"
    on_exit "rm -f '$system_dll'"
    ;;
host32*)
    bash "$here/WinePrefix.sh" runs32 "$WINEPREFIX" "$win32/tovira-host.exe" ||
        skip "this Wine cannot run 32-bit programs (Debian package wine32:i386)"
    cp "$win32/tovira.dll" "$work/tovira.dll"
    ;;
esac
# Wine draws on the display its prefix's desktop came up with: the prefix's own.
DISPLAY="$(bash "$here/WinePrefix.sh" display "$WINEPREFIX")" || fail "no display for $WINEPREFIX"
export DISPLAY
bash "$here/WinePrefix.sh" setup "$WINEPREFIX" >/dev/null

# Windows' view of the work folder, as the program names it.
windows_work="Z:${work//\//\\}"
(cd "$work" && exec "$WINE" "$work/multibuf.exe") >"$work/program.log" 2>"$work/errors.log" &
app=$!
leftovers() { pgrep -af "$(basename "$work")" | grep -v -e "$$" -e pgrep || true; }

if [ "$mode" = nolibrary ]; then
    no_main_window
    fatal_message "multibuf: 无法加载驱动程序库 $windows_work\\tovira.dll"
    grep -qF "已查找：$windows_work；C:\\windows\\system32；" "$work/errors.log" ||
        fail "the message does not say where the program looked: $(cat "$work/errors.log")"
    finish nonzero
fi

# A library or host that cannot be had: the program's words, every path in
# them written with backslashes, and no main window.
case "$mode" in
notalibrary)
    no_main_window
    fatal_message "multibuf: 无法加载驱动程序库 $windows_work\\tovira.dll：该文件不是任何机器的程序库"
    finish nonzero
    ;;
noexports)
    no_main_window
    fatal_message "multibuf: 驱动程序库 $windows_work\\tovira.dll 中找不到函数 ConfigInfo："
    grep -qE '找不到函数 ConfigInfo：.*[^ ] \(127\)' "$work/errors.log" ||
        fail "the message lacks the system's reason and its number: $(cat "$work/errors.log")"
    finish nonzero
    ;;
nohost)
    no_main_window
    fatal_message "multibuf: 无法启动驱动程序主机 $windows_work\\tovira-host.exe："
    finish nonzero
    ;;
esac

find_main_window

if [ "$mode" = heldsave ]; then
    run_and_save 5000
    cp "$work/Data.csv" "$work.saved"
    on_exit "rm -f '$work.saved'"
    ready="$work/held"
    release="$work/release"
    (cd "$work" && exec "$WINE" "$holder" "$windows_work\\Data.csv" "$windows_work\\held" \
        "$windows_work\\release") >/dev/null 2>&1 &
    hold=$!
    within 20 test -e "$ready" || fail "the other program did not hold Data.csv"
    click "${cmdStart[@]}"
    sleep 1
    click "${cmdStop[@]}"
    sleep 0.3
    files="$(ls -A "$work")"
    click "${CmdSave[@]}"
    sleep 1
    cmp -s "$work/Data.csv" "$work.saved" || fail "a refused save changed Data.csv"
    [ "$(ls -A "$work")" = "$files" ] ||
        fail "a refused save left files behind: $(diff <(echo "$files") <(ls -A "$work"))"
    touch "$release"
    wait "$hold" || fail "the holding program failed"
    click "${CmdSave[@]}"
    within 10 eval '! cmp -s "$work/Data.csv" "$work.saved"' ||
        fail "the save after the file was let go wrote nothing"
    check_csv_header "$work/Data.csv"
    click "${cmdExit[@]}"
    finish 0
fi

if [ "$mode" = host32killed ]; then
    click "${cmdStart[@]}"
    within 10 eval 'pgrep -f "$(basename "$work").*tovira-host.exe" >/dev/null' ||
        fail "no card host running"
    sleep 1
    kill -KILL "$app"
    wait "$app" 2>/dev/null || true
    app=""
    killed=$(date +%s%N)
    within 2 eval '! pgrep -f "$(basename "$work").*tovira-host.exe" >/dev/null' ||
        fail "the card host outlived the program by 2 seconds: $(leftovers)"
    echo "host gone $((($(date +%s%N) - killed) / 1000000)) ms after the program was killed"
    # Its window goes with its connection to the display; the next run must
    # not find it.
    within 5 eval '[ -z "$(xdotool search --name "$caption" 2>/dev/null || true)" ]' ||
        fail "the killed program's window is still there"
    echo "PASSED ($mode)"
    exit 0
fi

run_and_save 5000
check_csv "$work/Data.csv" 2
click "${cmdExit[@]}"
finish 0
