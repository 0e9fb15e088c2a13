#!/bin/sh
# Starts or stops a pair of test printers: net-snmp's snmpd with a config of
# ours (the four option sub-trees), and first_option_agent.py, a printer that
# answers its first option and then falls silent. Two sets:
#   options  the configurators' tests: snmpd on 127.0.0.51:161
#            (snmpd-options.conf, community "public"), the silent one on
#            127.0.0.52:161 under .1.3.6.1.4.1.55555.10
#   e2e      the end-to-end tests of the program: snmpd on 127.0.0.55:161
#            (snmpd-e2e.conf, community "vrtest"), the silent one on
#            127.0.0.56:161 under .1.3.6.1.4.1.55555.20
# When a tool is missing or port 161 may not be bound, the reason goes to
# DIR/unavailable and the script succeeds, so that the tests skip with it.
# Processes are stopped by the PIDs they wrote, never by name.
#   printer-agents.sh start|stop DIR SET
set -u

action="${1:?start or stop}"
dir="${2:?state directory}"
set_name="${3:?options or e2e}"
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/agent-lib.sh"

case "$set_name" in
options)
    SNMPD_ADDRESS=127.0.0.51 SILENT_ADDRESS=127.0.0.52 CONFIG=snmpd-options.conf
    AGENT_COMMUNITY=public ROOT=.1.3.6.1.4.1.55555.10 FIRST_TEXT=HDD-52
    ;;
e2e)
    SNMPD_ADDRESS=127.0.0.55 SILENT_ADDRESS=127.0.0.56 CONFIG=snmpd-e2e.conf
    AGENT_COMMUNITY=vrtest ROOT=.1.3.6.1.4.1.55555.20 FIRST_TEXT="HDD only"
    ;;
*)
    echo "usage: $0 start|stop DIR options|e2e" >&2
    exit 2
    ;;
esac

stop_all() {
    stop_pid_file "$dir/snmpd.pid"
    stop_pid_file "$dir/first-option.pid"
}

fail() {
    echo "$1; the logs:" >&2
    cat "$dir/snmpd.log" "$dir/first-option.log" >&2 2>/dev/null
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

    # The config is copied into the state directory, whose name on snmpd's
    # command line lets stop_pid_file recognise the process.
    cp "$here/$CONFIG" "$dir/snmpd.conf"
    MIBS= snmpd -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" -p "$dir/snmpd.pid" \
        "udp:$SNMPD_ADDRESS:161" > "$dir/snmpd.out" 2>&1 < /dev/null &
    snmpd_pid=$!
    python3 "$here/first_option_agent.py" "$SILENT_ADDRESS" "$dir/first-option.pid" \
        "$ROOT" "$FIRST_TEXT" > "$dir/first-option.log" 2>&1 < /dev/null &
    first_pid=$!

    wait_answer "$SNMPD_ADDRESS" "$ROOT.1.1.0" || fail "snmpd did not answer on $SNMPD_ADDRESS"
    wait_answer "$SILENT_ADDRESS" "$ROOT.1" next ||
        fail "the first-option agent did not answer on $SILENT_ADDRESS"
    # An answer from someone else's agent on our addresses is no good.
    running "$snmpd_pid" && running "$first_pid" ||
        fail "an agent of ours exited (address in use?)"
    echo "agents started: snmpd $SNMPD_ADDRESS:161, first option only $SILENT_ADDRESS:161"
    exit 0
    ;;
*)
    echo "usage: $0 start|stop DIR options|e2e" >&2
    exit 2
    ;;
esac
