#!/bin/sh
# Starts or stops the agents of the end-to-end tests of the program:
#   net-snmp's snmpd on 127.0.0.55:161 with snmpd-e2e.conf (all four
#   options), and first_option_agent.py on 127.0.0.56:161 (the first option only,
#   silence for the rest).
# When a tool is missing or port 161 may not be bound, it writes the reason
# to DIR/unavailable and succeeds, so that the tests skip with that reason.
# Processes are stopped by the PIDs they wrote, never by name.
#   e2e_agents.sh start DIR | stop DIR
set -u
action="${1:?start or stop}"
dir="${2:?state directory}"
here="$(cd "$(dirname "$0")" && pwd)"
SNMPD_ADDRESS=127.0.0.55
HALF_ADDRESS=127.0.0.56

. "$here/agent-lib.sh"

stop_all() {
    stop_pid_file "$dir/snmpd.pid"
    stop_pid_file "$dir/half-agent.pid"
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
    check_agent_tools
    PATH="$PATH:/usr/sbin"
    PYTHONDONTWRITEBYTECODE=1
    export PYTHONDONTWRITEBYTECODE

    cp "$here/snmpd-e2e.conf" "$dir/snmpd.conf"
    MIBS= snmpd -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" -p "$dir/snmpd.pid" \
        "udp:$SNMPD_ADDRESS:161" > "$dir/snmpd.out" 2>&1 < /dev/null &
    snmpd_pid=$!
    python3 "$here/first_option_agent.py" "$HALF_ADDRESS" "$dir/half-agent.pid" \
        .1.3.6.1.4.1.55555.20 "HDD only" \
        > "$dir/half-agent.log" 2>&1 < /dev/null &
    half_pid=$!

    AGENT_COMMUNITY=vrtest
    wait_answer "$SNMPD_ADDRESS" .1.3.6.1.4.1.55555.20.1.1.0 ||
        fail "snmpd did not answer on $SNMPD_ADDRESS"
    wait_answer "$HALF_ADDRESS" .1.3.6.1.4.1.55555.20.1 next ||
        fail "the half agent did not answer on $HALF_ADDRESS"
    running "$snmpd_pid" && running "$half_pid" || fail "an agent of ours exited (address in use?)"
    echo "end-to-end agents started: snmpd $SNMPD_ADDRESS:161, half agent $HALF_ADDRESS:161"
    exit 0
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
