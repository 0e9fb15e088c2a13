#!/bin/sh
# Makes the tests' Wine prefix afresh: headless, with the test printers.
# Usage: make-prefix.sh PREFIX [display] [MONITOR_DLL]
# With "display" the prefix keeps Wine's X11 driver, for the tests that
# drive real windows under Xvfb (another process's windows, the help viewer).
# MONITOR_DLL (tests/monitor, our stand-in for the Standard TCP/IP Port
# monitor) is copied into the prefix's system32 and registered as that
# monitor; the ports it knows come from ports.reg.
# Test programs hold a shared lock on PREFIX.lock while they run (see
# cmake/wine-run.sh.in); the prefix is rebuilt under the exclusive lock, so
# that two test runs in one build tree never pull it from under each other.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
WINEPREFIX=$1
shift
MODE=headless
MONITOR=
LOCKED=
for arg in "$@"; do
    case "$arg" in
    headless|display) MODE=$arg ;;
    --locked) LOCKED=yes ;;
    *) MONITOR=$arg ;;
    esac
done
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# The output of the step running now, shown when it fails. Every failure
# says what failed: a fixture that fails without a word leaves the tests
# that need it unrun with no clue why.
log="$WINEPREFIX.make.log"
LOCK_WAIT=120

fail() {
    echo "make-prefix.sh: $1" >&2
    if [ -s "$log" ]; then
        echo "make-prefix.sh: its output (last 40 lines):" >&2
        tail -n 40 "$log" >&2
    fi
    exit 1
}

# step WHAT COMMAND...: runs the command off every pipe, its output kept in
# $log; on failure the script ends, naming the step and its status.
step() {
    what=$1
    shift
    echo "make-prefix.sh: $what"
    "$@" </dev/null >"$log" 2>&1 && return 0
    status=$?
    # Seen once right after wineboot: "wine reg add" ended with 1 and wrote
    # nothing, as when it meets a server still settling. Once more after
    # the server has settled, saying so.
    if [ "$status" -ne 124 ] && [ ! -s "$log" ]; then
        echo "make-prefix.sh: $what failed with status $status and no output; once more"
        timeout 60 wineserver -w >/dev/null 2>&1 || true
        "$@" </dev/null >"$log" 2>&1 && return 0
        status=$?
    fi
    if [ "$status" -eq 124 ]; then
        fail "$what: not done in the time allowed"
    fi
    fail "$what failed with status $status"
}

# Wine's desktop process opens the display when the prefix is made: without
# a server there, the prefix is unusable for the tests that need it.
check_display() {
    [ -n "${DISPLAY:-}" ] || fail "display prefix: DISPLAY is not set"
    number=${DISPLAY#*:}
    number=${number%%.*}
    [ -S "/tmp/.X11-unix/X$number" ] ||
        fail "display prefix: no X server on $DISPLAY (/tmp/.X11-unix/X$number is missing)"
    if command -v xdotool >/dev/null 2>&1; then
        step "asking the X server on $DISPLAY for its screen" timeout 20 xdotool getdisplaygeometry
    fi
}

rebuild() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$log"
    if [ "$MODE" = display ]; then
        check_display
    fi
    step "making the prefix (wineboot -i)" timeout 120 wineboot -i
    if [ "$MODE" = headless ]; then
        step "choosing the null graphics driver" \
            wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    else
        # Title bars drawn with their button symbols, not letters.
        step "giving title bars their symbol font" sh "$here/caption-font.sh" "$WINEPREFIX"
    fi
    # Every .reg file beside this script: the test printers, their ports.
    for reg in "$here"/*.reg; do
        step "importing $(basename "$reg")" wine reg import "$(winepath -w "$reg" 2>/dev/null)"
    done
    if [ -n "$MONITOR" ]; then
        step "copying the port monitor $MONITOR" cp "$MONITOR" "$WINEPREFIX/drive_c/windows/system32/"
        step "registering the port monitor" \
            wine reg add 'HKLM\System\CurrentControlSet\Control\Print\Monitors\Standard TCP/IP Port' \
            /v Driver /d "$(basename "$MONITOR")" /f
    fi
    step "waiting for the Wine server to store the registry" timeout 60 wineserver -w
    # The prefix is usable when a test printer's key is there.
    grep -q 'VRTest Data' "$WINEPREFIX/system.reg" ||
        fail "the test printers are not in $WINEPREFIX/system.reg after the import"
    # Keep one server for the whole run instead of one per test program (the
    # native tests in between can leave Wine idle for a minute or more).
    step "starting the Wine server for the run" wineserver -p 300
    # Start Wine's system processes (services and the drivers it runs) now,
    # detached from every pipe: started by the first test instead, they
    # would hold that test's output open, and CTest would wait for it until
    # the time-out.
    wine reg query 'HKCU\Software\Wine' </dev/null >/dev/null 2>&1 || true
    rm -f "$log"
}

if [ -z "$LOCKED" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    # -o: the processes started here (the persistent wineserver above all)
    # must not inherit the lock, or it would outlive the rebuild. A test
    # program of another run in this build tree holds it shared while it
    # runs: wait for it a while, not until CTest's time-out.
    status=0
    flock -x -o -w "$LOCK_WAIT" -E 75 "$WINEPREFIX.lock" \
        sh "$0" "$WINEPREFIX" "$MODE" ${MONITOR:+"$MONITOR"} --locked || status=$?
    if [ "$status" -eq 75 ]; then
        log=
        fail "$WINEPREFIX.lock is still held after $LOCK_WAIT s: a test program of another run uses the prefix"
    fi
    exit "$status"
fi
rebuild
echo "Wine prefix ready: $WINEPREFIX"
