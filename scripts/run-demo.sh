#!/bin/sh
# Runs the built program as a user would, against a demonstration printer:
#   - net-snmp's snmpd plays the printer on 127.0.0.61:161 (demo/snmpd.conf),
#     stopped by its PID when the demonstration ends or is interrupted;
#   - a Wine prefix of its own, BUILD/demo-prefix, holds the printer
#     "VR Demo Printer", whose Standard TCP/IP port points at that agent
#     (demo/demo-printer.reg, answered by our stand-in port monitor), and
#     the help files in the spooler's driver directory;
#   - the program runs from BUILD/bin, beside the sample VRUnPQ.xml.
# With a display (DISPLAY set and reachable) the dialog opens there for you
# to press OK, Cancel or Help. Without one it runs on a virtual display
# (Xvfb :95), saves a picture of the filled dialog as BUILD/demo/dialog.png
# and presses OK as a user would (the Enter key in the address field).
# Either way it ends by printing the printer's seven data values.
# Needs root (port 161). Uses its own prefix, display and agent address, so
# it may run while the tests run in the same build tree.
#   scripts/run-demo.sh [BUILD_DIR]
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd) || exit 1
state=$build/demo
AGENT=127.0.0.61
DEMO_DISPLAY=95
PRINTER="VR Demo Printer"
PRINTER_KEY='HKLM\System\CurrentControlSet\Control\Print\Printers\VR Demo Printer'
MONITOR_KEY='HKLM\System\CurrentControlSet\Control\Print\Monitors\Standard TCP/IP Port'
program=$build/bin/VRAutoConfig.exe
monitor=$build/bin/vrtcpmon.dll

WINEPREFIX=$build/demo-prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
PATH=$PATH:/usr/sbin
MIBS=
export MIBS

fail() {
    echo "run-demo: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root: the demonstration printer's agent listens on port 161"
for f in "$program" "$build/bin/VRUnPQ.xml" "$monitor" "$build/bin/VRPHlp.chm"; do
    [ -f "$f" ] || fail "$f is missing: build first (make build)"
done
for tool in snmpd snmpget wine wineboot wineserver python3; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/install-deps.sh)"
done
mkdir -p "$state"

# One demonstration at a time in a build tree. flock holds the lock and runs
# this script again; -o keeps the lock from the processes started here
# (snmpd, Xvfb, Wine's server), so it goes with the run, interrupted or not.
if [ "${2:-}" != --locked ]; then
    flock -n -o -E 75 "$state/run.lock" sh "$0" "$build" --locked
    status=$?
    [ $status -ne 75 ] || fail "another demonstration is running in $build"
    exit $status
fi

# Whether the process of a PID file still runs and is the one we started
# (its command line holds the marker given).
ours() {
    [ -f "$1" ] || return 1
    pid=$(cat "$1" 2>/dev/null)
    [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] &&
        tr '\0' ' ' < "/proc/$pid/cmdline" | grep -q -- "$2"
}

stop_pid_file() {
    if ours "$1" "$2"; then
        pid=$(cat "$1")
        kill "$pid" 2>/dev/null
        n=0
        while kill -0 "$pid" 2>/dev/null && [ $n -lt 30 ]; do
            sleep 0.1
            n=$((n + 1))
        done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$1"
}

stop_xvfb() {
    stop_pid_file "$state/xvfb.pid" "Xvfb :$DEMO_DISPLAY"
}

# Everything a run (this one, or one that was interrupted) leaves running:
# the program and Wine in our prefix, our Xvfb, our snmpd.
cleanup() {
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
    stop_xvfb
    stop_pid_file "$state/snmpd.pid" "$state/snmpd.conf"
}
cleanup
trap cleanup EXIT
trap 'echo "run-demo: interrupted" >&2; exit 130' INT TERM HUP

# ---- the demonstration printer's agent -------------------------------------
cp "$root/demo/snmpd.conf" "$state/snmpd.conf"
snmpd -f -Lf "$state/snmpd.log" -C -c "$state/snmpd.conf" -p "$state/snmpd.pid" \
    "udp:$AGENT:161" </dev/null >/dev/null 2>&1 &
n=0
until snmpget -v1 -c demo -t 0.2 -r 0 -Ov "$AGENT" .1.3.6.1.2.1.1.1.0 >/dev/null 2>&1; do
    n=$((n + 1))
    [ $n -lt 100 ] || { cat "$state/snmpd.log" >&2; fail "snmpd did not answer on $AGENT"; }
    sleep 0.1
done
ours "$state/snmpd.pid" "$state/snmpd.conf" || fail "snmpd did not stay up (address taken?)"
echo "Demonstration printer: $(snmpget -v1 -c demo -Ovq "$AGENT" .1.3.6.1.2.1.1.1.0)," \
     "agent on $AGENT:161 (community \"demo\")"

# ---- the prefix --------------------------------------------------------------
# Made once and kept; the marker is written last, so a prefix whose making
# was interrupted is made afresh.
if [ ! -f "$WINEPREFIX/.vr-demo-ready" ]; then
    echo "Making the Wine prefix $WINEPREFIX (once, about a minute)"
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine reg import "$(winepath -w "$root/demo/demo-printer.reg" 2>/dev/null)" >/dev/null 2>&1
    grep -q 'VR Demo Printer' "$WINEPREFIX/system.reg" 2>/dev/null ||
        wineserver -w
    grep -q 'VR Demo Printer' "$WINEPREFIX/system.reg" || fail "the demonstration printer was not registered"
    touch "$WINEPREFIX/.vr-demo-ready"
fi
# Refreshed on every run: the port monitor, the help files, no values left by
# an earlier run (so the table below shows what this run wrote).
cp "$monitor" "$WINEPREFIX/drive_c/windows/system32/"
wine reg add "$MONITOR_KEY" /v Driver /d vrtcpmon.dll /f >/dev/null 2>&1
drivers=$WINEPREFIX/drive_c/windows/system32/spool/drivers/x64/3
mkdir -p "$drivers"
cp "$build"/bin/*.chm "$drivers/"
wine reg delete "$PRINTER_KEY\\PrinterDriverData" /f >/dev/null 2>&1
# Wine's system processes, started by the steps above, would stay without the
# display that the program is given below (and its windows with them).
wineserver -k 2>/dev/null
wineserver -w

# ---- the program ---------------------------------------------------------------
screen=
if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1
    echo "The dialog opens on $DISPLAY: press OK to detect the printer's options."
    wine "$program" "$PRINTER"
else
    for tool in Xvfb xdotool import; do
        command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/install-deps.sh)"
    done
    # An X server left by an interrupted run still holds the display's lock.
    if [ -f "/tmp/.X$DEMO_DISPLAY-lock" ]; then
        old=$(tr -d ' ' < "/tmp/.X$DEMO_DISPLAY-lock")
        if [ -n "$old" ] && tr '\0' ' ' < "/proc/$old/cmdline" 2>/dev/null | grep -q "Xvfb :$DEMO_DISPLAY"; then
            kill "$old" 2>/dev/null
            sleep 0.5
        fi
        rm -f "/tmp/.X$DEMO_DISPLAY-lock" "/tmp/.X11-unix/X$DEMO_DISPLAY"
    fi
    Xvfb ":$DEMO_DISPLAY" -screen 0 800x600x24 -nolisten tcp </dev/null >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    n=0
    until [ -e "/tmp/.X11-unix/X$DEMO_DISPLAY" ]; do
        n=$((n + 1))
        [ $n -lt 50 ] || fail "Xvfb did not start; see $state/xvfb.log"
        sleep 0.1
    done
    DISPLAY=:$DEMO_DISPLAY
    export DISPLAY
    # No window manager there: Wine draws the frame and caption itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    echo "No display: the dialog runs on Xvfb :$DEMO_DISPLAY, and OK is pressed for you."

    rm -f "$state/dialog.png"
    wine "$program" "$PRINTER" </dev/null >"$state/program.log" 2>&1 &
    wine_pid=$!
    # Its title is string 103 of the user's language.
    window=
    n=0
    while [ -z "$window" ] && [ $n -lt 120 ]; do
        window=$(xdotool search --name '^VR Universal ?Driver Auto' 2>/dev/null | head -n 1)
        [ -n "$window" ] || sleep 0.5
        n=$((n + 1))
    done
    [ -n "$window" ] || fail "the dialog did not appear"
    # Give it a moment to paint, then take its picture before OK.
    sleep 2
    import -window "$window" "$state/dialog.png" || fail "the picture of the dialog failed"
    screen=$state/dialog.png
    echo "Picture of the filled dialog: $screen"
    # The keyboard focus is in the address field; Enter there is OK.
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key --clearmodifiers Return
    n=0
    while kill -0 "$wine_pid" 2>/dev/null; do
        n=$((n + 1))
        if [ $n -ge 240 ]; then
            fail "the program did not end within 120 s after OK (a message box open?)"
        fi
        sleep 0.5
    done
    wait "$wine_pid"
    echo "The program ended with exit code $?."
fi

# ---- the result ------------------------------------------------------------------
wine reg export "$PRINTER_KEY\\PrinterDriverData" "$(winepath -w "$state/values.reg" 2>/dev/null)" /y \
    >/dev/null 2>&1 || rm -f "$state/values.reg"
echo
echo "Printer data values of \"$PRINTER\":"
if [ -f "$state/values.reg" ]; then
    python3 "$root/scripts/printer-values.py" "$state/values.reg"
    status=$?
else
    echo "(none written)"
    status=1
fi
[ -n "$screen" ] && echo "The dialog as it was before OK: $screen"
exit $status
