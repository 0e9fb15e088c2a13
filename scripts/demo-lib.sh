# Shared by scripts/run-demo.sh and scripts/bench-chain.sh (sourced, with
# $root and $build set): the demonstration printer's agent, its Wine prefix
# (BUILD/demo-prefix), the virtual display :95 and the program's dialog.
# State (PID files, logs, pictures) lives in BUILD/demo. One user of these
# at a time per build tree: demo_lock.

state=$build/demo
AGENT=127.0.0.61
DEMO_DISPLAY=95
PRINTER="VR Demo Printer"
# A queue that only the console program can be given (demo-printer-names.reg).
NAMED_PRINTER="VR Demo 印刷室 Łódź"
PRINTERS_KEY='HKLM\System\CurrentControlSet\Control\Print\Printers'
MONITOR_KEY='HKLM\System\CurrentControlSet\Control\Print\Monitors\Standard TCP/IP Port'
program=$build/bin/VRAutoConfig.exe
detector=$build/bin/VRAutoDetect.exe
monitor=$build/bin/vrtcpmon.dll
# The help of the nine languages, laid into the spooler's driver directory.
HELP_FILES="VRPHlp.chm VRPHDe.chm VRPHFr.chm VRPHIt.chm VRPHSp.chm VRPHNl.chm VRQHSe.chm VRPHCa.chm VRPHPt.chm"

WINEPREFIX=$build/demo-prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
PATH=$PATH:/usr/sbin
MIBS=
export MIBS

fail() {
    echo "$(basename "$0"): $*" >&2
    exit 1
}

# Checks what every user of the demonstration needs.
demo_check() {
    [ "$(id -u)" -eq 0 ] || fail "needs root: the demonstration printer's agent listens on port 161"
    for f in "$program" "$detector" "$build/bin/VRUnPQ.xml" "$monitor"; do
        [ -f "$f" ] || fail "$f is missing: build first (make build)"
    done
    for f in $HELP_FILES; do
        [ -f "$build/bin/$f" ] || fail "$build/bin/$f is missing: build first (make build)"
    done
    for tool in snmpd snmpget wine wineboot wineserver python3 "$@"; do
        command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/install-deps.sh)"
    done
    mkdir -p "$state"
}

# demo_lock SCRIPT ARGS...: one user at a time in a build tree. flock holds
# the lock and runs the script again with --locked first; -o keeps the lock
# from the processes started there (snmpd, Xvfb, Wine's server), so it goes
# with the run, interrupted or not.
demo_lock() {
    if [ "${DEMO_LOCKED:-}" != yes ]; then
        DEMO_LOCKED=yes flock -n -o -E 75 "$state/run.lock" sh "$@"
        status=$?
        [ $status -ne 75 ] || fail "another demonstration or benchmark is running in $build"
        exit $status
    fi
}

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

# Everything a run (this one, or one that was interrupted) leaves running:
# the program and Wine in our prefix, our Xvfb, our agents.
demo_cleanup() {
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
    stop_pid_file "$state/xvfb.pid" "Xvfb :$DEMO_DISPLAY"
    for pidfile in "$state"/snmpd-*.pid; do
        [ -f "$pidfile" ] && stop_pid_file "$pidfile" "$state/"
    done
    return 0
}

# start_agent ADDRESS CONFIG COMMUNITY: net-snmp's snmpd on ADDRESS:161 with
# CONFIG; waits until it answers COMMUNITY (none: until it is up). Its
# persistent directory is new on every start: the SNMPv3 users of CONFIG are
# made afresh, with engine boots from 1, and nothing goes to the system's.
start_agent() {
    name=snmpd-$1
    cp "$2" "$state/$name.conf"
    rm -rf "$state/$name.persistent"
    mkdir -p "$state/$name.persistent"
    SNMP_PERSISTENT_DIR="$state/$name.persistent" \
        snmpd -f -Lf "$state/$name.log" -C -c "$state/$name.conf" -p "$state/$name.pid" \
        "udp:$1:161" </dev/null >/dev/null 2>&1 &
    n=0
    while :; do
        if [ -n "$3" ]; then
            snmpget -v1 -c "$3" -t 0.2 -r 0 "$1" .1.3.6.1.2.1.1.1.0 >/dev/null 2>&1 && break
        else
            ours "$state/$name.pid" "$state/$name.conf" && sleep 0.5 && break
        fi
        n=$((n + 1))
        [ $n -lt 100 ] || { cat "$state/$name.log" >&2; fail "snmpd did not start on $1"; }
        sleep 0.1
    done
    ours "$state/$name.pid" "$state/$name.conf" || fail "snmpd did not stay up on $1 (address taken?)"
}

# The prefix, made once and kept (the marker is written last, so a prefix
# whose making was interrupted is made afresh); the printers, the port
# monitor, the help files and the title bar's symbol font are refreshed on
# every run.
demo_prefix() {
    if [ ! -f "$WINEPREFIX/.vr-demo-ready" ]; then
        echo "Making the Wine prefix $WINEPREFIX (once, about a minute)"
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        touch "$WINEPREFIX/.vr-demo-ready"
    fi
    wine reg import "$(winepath -w "$root/demo/demo-printer.reg" 2>/dev/null)" >/dev/null 2>&1
    wine reg import "$(winepath -w "$root/demo/demo-printer-names.reg" 2>/dev/null)" >/dev/null 2>&1
    cp "$monitor" "$WINEPREFIX/drive_c/windows/system32/"
    wine reg add "$MONITOR_KEY" /v Driver /d vrtcpmon.dll /f >/dev/null 2>&1
    drivers=$WINEPREFIX/drive_c/windows/system32/spool/drivers/x64/3
    mkdir -p "$drivers"
    for f in $HELP_FILES; do
        cp "$build/bin/$f" "$drivers/"
    done
    sh "$root/tests/prefix/caption-font.sh" "$WINEPREFIX" || fail "no font for the title bar's buttons"
    wine reg query "$PRINTERS_KEY\\$PRINTER" >/dev/null 2>&1 ||
        fail "the demonstration printer was not registered"
}

# Wine's system processes, started while the prefix was prepared, would stay
# without the display that the program is given (and its windows with them).
restart_wine() {
    wineserver -k 2>/dev/null
    wineserver -w
}

# Starts Xvfb on :95 and exports DISPLAY; an X server left there by an
# interrupted run still holds the display's lock and is stopped first.
start_xvfb() {
    for tool in Xvfb xdotool import; do
        command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/install-deps.sh)"
    done
    # The tests' script: it stops what an interrupted run left on the display.
    sh "$root/tests/prefix/xvfb.sh" start "$state" "$DEMO_DISPLAY" >/dev/null ||
        fail "Xvfb did not start; see $state/xvfb.log"
    DISPLAY=:$DEMO_DISPLAY
    export DISPLAY
    # No window manager there: Wine draws the frame and caption itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

# wait_window REGEX TENTHS: the first window whose name matches, waiting up
# to TENTHS tenths of a second; empty when none came.
wait_window() {
    n=0
    while [ $n -lt "$2" ]; do
        found=$(xdotool search --name "$1" 2>/dev/null | head -n 1)
        [ -n "$found" ] && { echo "$found"; return 0; }
        sleep 0.1
        n=$((n + 1))
    done
    return 1
}

# The dialog's title is string 103 of the user's language.
DIALOG_TITLE='^VR Universal ?Driver Auto'

# Presses Enter in a window of the program as a user would: in the dialog
# the keyboard focus is in the address field, where Enter is OK.
press_enter() {
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key --clearmodifiers Return
}
