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

rebuild() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    if [ "$MODE" = headless ]; then
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    else
        # Title bars drawn with their button symbols, not letters.
        sh "$here/caption-font.sh" "$WINEPREFIX"
    fi
    # Every .reg file beside this script: the test printers, their ports.
    for reg in "$here"/*.reg; do
        wine reg import "$(winepath -w "$reg" 2>/dev/null)" >/dev/null 2>&1
    done
    if [ -n "$MONITOR" ]; then
        cp "$MONITOR" "$WINEPREFIX/drive_c/windows/system32/"
        wine reg add 'HKLM\System\CurrentControlSet\Control\Print\Monitors\Standard TCP/IP Port' \
            /v Driver /d "$(basename "$MONITOR")" /f >/dev/null 2>&1
    fi
    wineserver -w
    # The prefix is usable when a test printer's key is there.
    grep -q 'VRTest Data' "$WINEPREFIX/system.reg"
    # Keep one server for the whole run instead of one per test program (the
    # native tests in between can leave Wine idle for a minute or more).
    wineserver -p 300 </dev/null >/dev/null 2>&1
    # Start Wine's system processes (services and the drivers it runs) now,
    # detached from every pipe: started by the first test instead, they
    # would hold that test's output open, and CTest would wait for it until
    # the time-out.
    wine reg query 'HKCU\Software\Wine' </dev/null >/dev/null 2>&1 || true
}

if [ -z "$LOCKED" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    # -o: the processes started here (the persistent wineserver above all)
    # must not inherit the lock, or it would outlive the rebuild.
    exec flock -x -o "$WINEPREFIX.lock" sh "$0" "$WINEPREFIX" "$MODE" ${MONITOR:+"$MONITOR"} --locked
fi
rebuild
echo "Wine prefix ready: $WINEPREFIX"
