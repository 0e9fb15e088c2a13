#!/bin/sh
# Starts or stops the printers of the feature configurators' tests:
#   net-snmp's snmpd on 127.0.0.51:161 with the four option sub-trees
#   (snmpd-options.conf), and first_option_agent.py on 127.0.0.52:161, which
#   answers the disk's sub-tree and then nothing.
# When a tool is missing or we may not bind port 161, the reason goes to
# DIR/unavailable and the script succeeds, so that the tests skip with it.
#   options-agent.sh start DIR | stop DIR
set -u

action="${1:?start or stop}"
dir="${2:?state directory}"
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/agent-lib.sh"

SNMPD_ADDRESS=127.0.0.51
DISK_ONLY_ADDRESS=127.0.0.52

stop_all() {
    stop_pid_file "$dir/snmpd.pid"
    stop_pid_file "$dir/disk-only.pid"
}

fail() {
    echo "$1; the logs:" >&2
    cat "$dir/snmpd.log" "$dir/disk-only.log" >&2 2>/dev/null
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
    cp "$here/snmpd-options.conf" "$dir/snmpd.conf"
    MIBS= snmpd -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" -p "$dir/snmpd.pid" \
        "udp:$SNMPD_ADDRESS:161" > "$dir/snmpd.out" 2>&1 < /dev/null &
    snmpd_pid=$!
    python3 "$here/first_option_agent.py" "$DISK_ONLY_ADDRESS" "$dir/disk-only.pid" \
        .1.3.6.1.4.1.55555.10 HDD-52 \
        > "$dir/disk-only.log" 2>&1 < /dev/null &
    disk_only_pid=$!

    wait_answer "$SNMPD_ADDRESS" .1.3.6.1.4.1.55555.10.1.1.0 || fail "snmpd did not answer"
    wait_answer "$DISK_ONLY_ADDRESS" .1.3.6.1.4.1.55555.10.1 next ||
        fail "the disk-only agent did not answer"
    # An answer from someone else's agent on our addresses is no good.
    running "$snmpd_pid" && running "$disk_only_pid" ||
        fail "an agent of ours exited (address in use?)"
    echo "agents started: snmpd $SNMPD_ADDRESS:161, disk-only $DISK_ONLY_ADDRESS:161"
    exit 0
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
