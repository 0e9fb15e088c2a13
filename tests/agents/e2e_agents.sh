#!/bin/sh
# Starts or stops the agents of the end-to-end tests of the program:
#   net-snmp's snmpd on 127.0.0.55:161 with snmpd-e2e.conf (all four
#   options), and half_agent.py on 127.0.0.56:161 (the first option only,
#   silence for the rest).
# When a tool is missing or port 161 may not be bound, it writes the reason to DIR/unavailable and succeeds, so that the
# tests skip with that reason. Processes are stopped by the PIDs they wrote,
# never by name.
#   e2e_agents.sh start DIR | stop DIR
set -u
action="${1:?start or stop}"
dir="${2:?state directory}"
here="$(cd "$(dirname "$0")" && pwd)"
SNMPD_ADDRESS=127.0.0.55
HALF_ADDRESS=127.0.0.56

running() {
    state="$(ps -o stat= -p "$1" 2>/dev/null)"
    [ -n "$state" ] && [ "${state#Z}" = "$state" ]
}

# Stops the process of a PID file if its command line names our directory.
stop_pid_file() {
    file="$1"
    [ -f "$file" ] || return 0
    pid="$(cat "$file" 2>/dev/null)"
    if [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] &&
       tr '\0' ' ' < "/proc/$pid/cmdline" | grep -q -- "$dir"; then
        kill "$pid" 2>/dev/null
        n=0
        while running "$pid" && [ $n -lt 50 ]; do
            sleep 0.1
            n=$((n + 1))
        done
        running "$pid" && kill -9 "$pid" 2>/dev/null
    fi
    rm -f "$file"
}

stop_all() {
    stop_pid_file "$dir/snmpd.pid"
    stop_pid_file "$dir/half-agent.pid"
}

unavailable() {
    echo "$1" > "$dir/unavailable"
    echo "end-to-end agents unavailable: $1"
    exit 0
}

fail() {
    echo "$1" >&2
    cat "$dir/snmpd.log" "$dir/half-agent.log" >&2 2>/dev/null
    stop_all
    exit 1
}

case "$action" in
stop)
    stop_all
    exit 0
    ;;
start)
    mkdir -p "$dir"
    stop_all
    rm -f "$dir/unavailable"
    PATH="$PATH:/usr/sbin"
    for tool in snmpd snmpget python3; do
        command -v "$tool" >/dev/null 2>&1 || unavailable "$tool is not installed (scripts/install-deps.sh)"
    done
    [ "$(id -u)" -eq 0 ] || unavailable "binding UDP port 161 needs root"
    PYTHONDONTWRITEBYTECODE=1
    export PYTHONDONTWRITEBYTECODE

    cp "$here/snmpd-e2e.conf" "$dir/snmpd.conf"
    MIBS= snmpd -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" -p "$dir/snmpd.pid" \
        "udp:$SNMPD_ADDRESS:161" > "$dir/snmpd.out" 2>&1 < /dev/null &
    snmpd_pid=$!
    python3 "$here/half_agent.py" "$HALF_ADDRESS" "$dir/half-agent.pid" \
        > "$dir/half-agent.log" 2>&1 < /dev/null &
    half_pid=$!

    n=0
    until MIBS= snmpget -v1 -c vrtest -t 0.2 -r 0 -On "$SNMPD_ADDRESS" \
            .1.3.6.1.4.1.55555.20.1.1.0 >/dev/null 2>&1; do
        n=$((n + 1))
        [ $n -ge 50 ] && fail "snmpd did not answer on $SNMPD_ADDRESS"
        sleep 0.2
    done
    n=0
    until MIBS= snmpgetnext -v1 -c vrtest -t 0.2 -r 0 -On "$HALF_ADDRESS" \
            .1.3.6.1.4.1.55555.20.1 >/dev/null 2>&1; do
        n=$((n + 1))
        [ $n -ge 50 ] && fail "the half agent did not answer on $HALF_ADDRESS"
        sleep 0.2
    done
    running "$snmpd_pid" && running "$half_pid" || fail "an agent of ours exited (address in use?)"
    echo "end-to-end agents started: snmpd $SNMPD_ADDRESS:161, half agent $HALF_ADDRESS:161"
    exit 0
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
