# Shared by the real-window tests (sourced): a work folder and a virtual
# display of their own, xdotool at the stored control positions (controls.sh),
# and the checks of how a run ends and of the Data.csv it saves. The test
# sets $app to the program's process and may define leftovers() to list what
# of the run is still up (default: any process whose command line names
# $work).

skip() {
    echo "SKIPPED: $*"
    exit 77
}

fail() {
    echo "FAILED: $*" >&2
    for log in program.log errors.log xvfb.log; do
        if [ -s "${work:-}/$log" ]; then
            echo "--- $log:" >&2
            cat "$work/$log" >&2
        fi
    done
    exit 1
}

require_window_tools() {
    command -v Xvfb >/dev/null || skip "Xvfb is missing (Debian package xvfb)"
    command -v xdotool >/dev/null || skip "xdotool is missing (Debian package xdotool)"
    command -v import >/dev/null || skip "import is missing (Debian package imagemagick)"
}

caption='^Velmarq  综合数据采集例程$'
work=""
xvfb=""
app=""
exit_hooks=()

# Runs at the end in any case: the program (still up only after a failure),
# the display, the hooks the test added, the work folder.
cleanup() {
    if [ -n "$app" ]; then
        kill "$app" 2>/dev/null || true
        wait "$app" 2>/dev/null || true
    fi
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    local hook
    for hook in "${exit_hooks[@]}"; do eval "$hook" || true; done
    [ -n "$work" ] && rm -rf "$work"
}
on_exit() { exit_hooks+=("$1"); }

start_work() {
    work="$(mktemp -d)"
    trap cleanup EXIT
}

# A display number of Xvfb's own choosing, so parallel runs never collide.
# -noreset: by default the server resets each time its last client leaves,
# and a reset drops every connection still being set up. xdotool polls for
# the window while the program starts, so the program's own connection could
# be dropped, and it ended with "could not connect to display" (about one run
# in ten with four tests at once).
start_display() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb=$!
    for _ in $(seq 200); do
        grep -q . "$work/display" 2>/dev/null && break
        sleep 0.05
    done
    grep -q . "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    export DISPLAY=":$(head -n 1 "$work/display")"
}

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

if ! declare -F leftovers >/dev/null; then
    leftovers() { pgrep -af "$work/" || true; }
fi

# Ends a run that has left: its status must be $1 ("nonzero" for any but 0),
# and nothing of it, the card host included, may still run.
finish() {
    within 15 stopped || fail "the program did not end"
    local status=0
    wait "$app" || status=$?
    app=""
    if [ "$1" = nonzero ]; then
        [ "$status" -ne 0 ] || fail "the program ended with status 0"
    else
        [ "$status" -eq "$1" ] || fail "the program ended with status $status, not $1"
    fi
    within 5 eval '[ -z "$(leftovers)" ]' ||
        fail "something of the program is still running: $(leftovers)"
    [ -z "$(xdotool search --name "$caption" 2>/dev/null || true)" ] ||
        fail "the window is still there"
    echo "PASSED ($mode)"
    exit 0
}

# The one message of a fatal error: a box captioned MultiBuf and the same
# text, $1, on standard error ($2 lines of it, default 1). Closing the box
# ends the program with status $3 (default 1).
fatal_message() {
    local lines="${2:-1}"
    local box=""
    for _ in $(seq 600); do
        box="$(xdotool search --onlyvisible --name '^MultiBuf$' 2>/dev/null | head -n 1 || true)"
        [ -n "$box" ] && break
        running || fail "the program ended without showing its message"
        sleep 0.05
    done
    [ -n "$box" ] || fail "no message box"
    within 5 grep -qF "$1" "$work/errors.log" ||
        fail "standard error lacks '$1': $(cat "$work/errors.log")"
    # The box's OK button has the focus: Enter closes it, as a person would.
    # A second box would keep the program from ending.
    xdotool windowfocus --sync "$box"
    xdotool key Return
    within 15 stopped || fail "the program did not end after its message"
    [ "$(grep -c '^multibuf: ' "$work/errors.log")" -eq "$lines" ] ||
        fail "not $lines lines on standard error: $(cat "$work/errors.log")"
}

# After a fatal error at load the main window never opens.
no_main_window() {
    sleep 0.5
    [ -z "$(xdotool search --onlyvisible --name "$caption" 2>/dev/null || true)" ] ||
        fail "the main window opened after a fatal error"
}

# Sets $window to the main window once it shows (it may take a while under
# Wine), with a moment for it to settle.
find_main_window() {
    window=""
    for _ in $(seq 600); do
        window="$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | head -n 1 || true)"
        [ -n "$window" ] && break
        running || fail "the program ended before its window appeared"
        sleep 0.05
    done
    [ -n "$window" ] || fail "no window captioned 'Velmarq  综合数据采集例程'"
    sleep 0.5
}

# The controls' window pixels (cmdStart, CmdSave, UpDownChnUp, ...) and click.
source "$(dirname "${BASH_SOURCE[0]}")/controls.sh"

# A fingerprint of what a region of the window shows.
looks() { import -window "$window" -crop "$1" +repage rgb:- | md5sum; }

# Types $1 into the rate box.
set_rate() {
    click "${txtSampFreq[@]}"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 30 "$1"
    sleep 0.2
}

# Acquires at $1 scans/s long enough for 10000 kept points, stops and saves.
run_and_save() {
    set_rate "$1"
    click "${cmdStart[@]}"
    sleep $((10000 / $1 + 1))
    click "${cmdStop[@]}"
    sleep 0.3
    rm -f "$work/Data.csv"
    click "${CmdSave[@]}"
    within 10 test -s "$work/Data.csv" || fail "保存文件 wrote no Data.csv"
    sleep 0.3
}

# The title in GBK and the header, every line ended by CR LF.
check_csv_header() {
    local title
    title="$(head -n 1 "$1" | od -An -tx1 | tr -d ' \n')"
    [ "$title" = "22cafdbeddb2c9bcafbde1b9fb220d0a" ] || fail "title line bytes: $title"
    [ "$(sed -n 2p "$1")" = $',"CH1","CH2","CH3","CH4"\r' ] || fail "header line"
    [ "$(tail -c 2 "$1" | od -An -tx1 | tr -d ' \n')" = "0d0a" ] || fail "no CR LF at the end"
}

# The header, then 10000 rows numbered from 0, each with four codes and a
# trailing comma. Channel 4 of the simulated card counts scans, so in the file
# it steps by $2, the scans between kept points (mod 65536).
check_csv() {
    check_csv_header "$1"
    local report
    report="$(LC_ALL=C awk -v step="$2" '
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
        END { print bad != "" ? bad : rows != 10000 ? rows " rows" : "" }' "$1")"
    [ -z "$report" ] || fail "Data.csv: $report"
}
