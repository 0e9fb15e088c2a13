#!/bin/sh
# Starts or stops the agents of the SNMPv3 tests: net-snmp's snmpd with SNMPv3
# users only (snmpd-v3.conf) on 127.0.0.71:161, with a fresh persistent
# directory of its own (its engine boots start at 1000, from the stored boots
# in snmpd-v3.conf, while its time starts near 0), and our agent that
# finds requests out of its time window (v3_time_agent.py) on 127.0.0.72:161.
# "start DIR" also records snmpwalk -v3's walks of snmpd for each user that
# may read, per sub-tree (DIR/walk-USER-enterprise.txt, -system.txt). When a
# tool is missing or port 161 may not be bound, the reason goes to
# DIR/unavailable and the script succeeds, so that the tests skip with it.
# Processes are stopped by the PIDs they wrote, never by name.
#   v3-agents.sh start|stop DIR
set -u

action="${1:?start or stop}"
dir="${2:?state directory}"
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/agent-lib.sh"

SNMPD_ADDRESS=127.0.0.71
TIME_ADDRESS=127.0.0.72
MIBS=
MIBDIRS=/nonexistent
export MIBS MIBDIRS

stop_all() {
    stop_pid_file "$dir/snmpd.pid"
    stop_pid_file "$dir/time-agent.pid"
}

fail() {
    echo "$1; the logs:" >&2
    cat "$dir/snmpd.log" "$dir/time-agent.log" >&2 2>/dev/null
    stop_all
    exit 1
}

# walk USER AUTH PRIV-ARGUMENTS...: snmpwalk -v3 of both sub-trees.
walk() {
    user=$1 auth=$2
    shift 2
    for tree in enterprise:.1.3.6.1.4.1.55555.71 system:.1.3.6.1.2.1.1; do
        snmpwalk -v3 -u "$user" -a "$auth" -A "$user-auth" "$@" -On -t 1 -r 2 \
            "$SNMPD_ADDRESS" "${tree#*:}" > "$dir/walk-$user-${tree%%:*}.txt" 2>&1 ||
            fail "snmpwalk -v3 as $user failed: $(cat "$dir/walk-$user-${tree%%:*}.txt")"
    done
}

case "$action" in
stop)
    stop_all
    exit 0
    ;;
start)
    mkdir -p "$dir"
    stop_all
    rm -rf "$dir/unavailable" "$dir"/walk-*.txt "$dir/persistent"
    check_agent_tools
    PATH="$PATH:/usr/sbin"
    PYTHONDONTWRITEBYTECODE=1
    export PYTHONDONTWRITEBYTECODE

    mkdir -p "$dir/persistent"
    cp "$here/snmpd-v3.conf" "$dir/snmpd.conf"
    SNMP_PERSISTENT_DIR="$dir/persistent" snmpd -f -Lf "$dir/snmpd.log" -C \
        -c "$dir/snmpd.conf" -p "$dir/snmpd.pid" "udp:$SNMPD_ADDRESS:161" \
        > "$dir/snmpd.out" 2>&1 < /dev/null &
    snmpd_pid=$!
    python3 "$here/v3_time_agent.py" "$TIME_ADDRESS" "$dir/time-agent.pid" \
        > "$dir/time-agent.log" 2>&1 < /dev/null &
    time_pid=$!

    n=0
    until snmpget -v3 -l authNoPriv -u shaonly -a SHA -A shaonly-auth -t 0.2 -r 0 \
            "$SNMPD_ADDRESS" .1.3.6.1.2.1.1.5.0 > /dev/null 2>&1; do
        n=$((n + 1))
        [ $n -lt 50 ] || fail "snmpd did not answer on $SNMPD_ADDRESS"
        sleep 0.2
    done
    running "$snmpd_pid" && running "$time_pid" ||
        fail "an agent of ours exited (address in use?)"
    walk shaaes SHA -l authPriv -x AES -X shaaes-priv
    walk md5aes MD5 -l authPriv -x AES -X md5aes-priv
    walk sha256aes SHA-256 -l authPriv -x AES -X sha256aes-priv
    walk shaonly SHA -l authNoPriv
    echo "agents started: snmpd (SNMPv3) $SNMPD_ADDRESS:161, time window $TIME_ADDRESS:161"
    exit 0
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
