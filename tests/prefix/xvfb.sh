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

# Whether this process is an Xvfb of our display.
is_our_server() {
    tr '\0' ' ' 2>/dev/null < "/proc/$1/cmdline" | grep -q "Xvfb :$DISPLAY_NUMBER"
}

# Whether this process still runs (one that has ended is a zombie until
# reaped, and kill -0 still finds it).
is_running() {
    state=$(cut -d ' ' -f 3 "/proc/$1/stat" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}

stop() {
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile" 2>/dev/null)
    if [ -n "$pid" ] && is_our_server "$pid"; then
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
        if [ -n "$old" ] && is_our_server "$old"; then
            kill "$old" 2>/dev/null
            sleep 0.5
        fi
        rm -f "/tmp/.X$DISPLAY_NUMBER-lock" "/tmp/.X11-unix/X$DISPLAY_NUMBER"
    fi
    Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$dir/xvfb.log" 2>&1 &
    pid=$!
    echo "$pid" > "$pidfile"
    # Ready when its socket is there and it still runs: a server that ends
    # at once (the display held by another one) must not pass for ready.
    n=0
    while [ $n -lt 50 ]; do
        if ! is_running "$pid"; then
            why="Xvfb ended at once"
            break
        fi
        if [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ]; then
            echo "Xvfb ready on :$DISPLAY_NUMBER"
            exit 0
        fi
        why="no socket /tmp/.X11-unix/X$DISPLAY_NUMBER after 5 s"
        sleep 0.1
        n=$((n + 1))
    done
    echo "Xvfb did not start on :$DISPLAY_NUMBER: $why; its log ($dir/xvfb.log):" >&2
    cat "$dir/xvfb.log" >&2
    stop
    exit 1
    ;;
esac
