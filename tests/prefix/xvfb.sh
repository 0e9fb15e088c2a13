#!/bin/sh
# Starts or stops the X server of the tests that drive real windows: Xvfb on
# display :93, stopped by the PID it was given, never by name.
# A third argument chooses another display number.
#   xvfb.sh start DIR [N] | stop DIR [N]
set -u
action="${1:?start or stop}"
dir="${2:?state directory}"
DISPLAY_NUMBER="${3:-93}"
mkdir -p "$dir"
pidfile="$dir/xvfb.pid"

stop() {
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile" 2>/dev/null)
    if [ -n "$pid" ] && tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | grep -q "Xvfb :$DISPLAY_NUMBER"; then
        kill "$pid" 2>/dev/null
        sleep 0.5
    fi
    rm -f "$pidfile"
}

case "$action" in
stop) stop; exit 0 ;;
start)
    stop
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "Xvfb is missing (Debian package xvfb)" >&2
        exit 1
    fi
    # A server left by an interrupted run still holds the display's lock.
    if [ -f "/tmp/.X$DISPLAY_NUMBER-lock" ]; then
        old=$(tr -d ' ' < "/tmp/.X$DISPLAY_NUMBER-lock")
        if [ -n "$old" ] && tr '\0' ' ' < "/proc/$old/cmdline" 2>/dev/null | grep -q "Xvfb :$DISPLAY_NUMBER"; then
            kill "$old" 2>/dev/null
            sleep 0.5
        fi
        rm -f "/tmp/.X$DISPLAY_NUMBER-lock" "/tmp/.X11-unix/X$DISPLAY_NUMBER"
    fi
    Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$dir/xvfb.log" 2>&1 &
    echo $! > "$pidfile"
    n=0
    while [ $n -lt 50 ]; do
        [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && { echo "Xvfb ready on :$DISPLAY_NUMBER"; exit 0; }
        sleep 0.1
        n=$((n + 1))
    done
    echo "Xvfb did not start; see $dir/xvfb.log" >&2
    exit 1
    ;;
esac
