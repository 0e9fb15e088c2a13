#!/bin/sh
# Starts or stops the SNMP agents that the WinSNMP tests talk to:
#   net-snmp's snmpd on 127.0.0.41:161 and [::1]:16141, with our config,
#   the demonstration printer's snmpd (demo/snmpd.conf) on 127.0.0.45:161,
#   our scripted agent on 127.0.0.42:161, and the query engine's agent on
#   127.0.0.44:161, [::1]:161 and 127.0.0.44:162 (its "other source"), and
#   on [fe80::44:1%lo]:161 where the loopback interface can be given that
#   link-local address (DIR/linklocal then names it, zone as an index;
#   DIR/linklocal-unavailable says why not), and snmpsim on 127.0.0.46:161
#   serving the real devices' walks that it ships, one community each
#   (DIR/snmpsim-unavailable says why not).
# "start DIR" also records snmpwalk's walks of snmpd (IPv4 and IPv6) and
# snmpbulkwalk's of each recording in DIR for the tests to compare with. When snmpd, snmpwalk or python3 is missing,
# or we may not bind port 161, it writes the reason to DIR/unavailable and
# succeeds, so that the tests skip with that reason. Processes are stopped
# by the PIDs they wrote, never by name.
#   agents.sh start DIR | stop DIR
set -u

action="${1:?start or stop}"
dir="${2:?state directory}"
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/agent-lib.sh"

SNMPD_V4=127.0.0.41
SNMPD_V6_PORT=16141
AGENT_V4=127.0.0.42
ENGINE_V4=127.0.0.44
DEMO_V4=127.0.0.45
# The demonstration printer's sub-trees: sysDescr and the four options.
DEMO_SUBTREES=".1.3.6.1.2.1.1.1 .1.3.6.1.4.1.55555.100.1 .1.3.6.1.4.1.55555.100.2
.1.3.6.1.4.1.55555.100.3 .1.3.6.1.4.1.55555.100.4"
LINK_LOCAL=fe80::44:1
SIM_V4=127.0.0.46
SIM_EXAMPLES=/usr/share/doc/snmpsim/examples/data
# The recordings of real devices that snmpsim ships, by their names there;
# each is served under its file's base name as the community.
SIM_RECORDINGS="recorded/linux-full-walk.snmprec.gz recorded/winxp-full-walk.snmprec.gz
recorded/linksys-system.snmprec recorded/solaris-system.snmprec
recorded/udp-endpoint-table-walk.snmprec hp_perf.snmprec.gz hp_perf2.snmprec.gz
cisco_16_switch.snmprec.gz foreignformats/linux.snmpwalk.gz
foreignformats/winxp1.snmpwalk.gz foreignformats/winxp2.sapwalk.gz"

stop_all() {
    stop_pid_file "$dir/snmpd.pid"
    stop_pid_file "$dir/demo-snmpd.pid"
    stop_pid_file "$dir/agent.pid"
    stop_pid_file "$dir/engine-agent.pid"
    stop_pid_file "$dir/snmpsim.pid"
    # Its data lives where the user it runs as can read it.
    if [ -f "$dir/snmpsim-data" ]; then
        rm -rf "$(cat "$dir/snmpsim-data")"
        rm -f "$dir/snmpsim-data"
    fi
    # Only an address that we added goes again.
    if [ -f "$dir/linklocal-added" ]; then
        ip -6 addr del "$LINK_LOCAL/128" dev lo 2>/dev/null
        rm -f "$dir/linklocal-added"
    fi
}

# Gives lo the link-local address, unless it has it already. Prints why not
# when that cannot be done here (no ip command, no permission).
add_link_local() {
    command -v ip >/dev/null 2>&1 || { echo "the ip command is missing"; return 1; }
    [ -r /sys/class/net/lo/ifindex ] || { echo "no index for lo in /sys"; return 1; }
    ip -6 addr show dev lo 2>/dev/null | grep -q "inet6 $LINK_LOCAL/" && return 0
    if ! error="$(ip -6 addr add "$LINK_LOCAL/128" dev lo nodad 2>&1)"; then
        echo "ip -6 addr add $LINK_LOCAL/128 dev lo failed: $error"
        return 1
    fi
    touch "$dir/linklocal-added"
}

# Starts snmpsim with the recordings (unpacked), or says in
# DIR/snmpsim-unavailable why it cannot run here. It drops root for nobody,
# so its data and index go to a directory of their own under /tmp.
start_recordings() {
    command -v snmpsimd >/dev/null 2>&1 ||
        { echo "snmpsimd is not installed (scripts/install-deps.sh)" > "$dir/snmpsim-unavailable"; return; }
    data="$(mktemp -d "${TMPDIR:-/tmp}/vr-snmpsim.XXXXXX")" || return
    echo "$data" > "$dir/snmpsim-data"
    mkdir "$data/records" "$data/index"
    for recording in $SIM_RECORDINGS; do
        name="$(basename "$recording" .gz)"
        if [ ! -f "$SIM_EXAMPLES/$recording" ]; then
            echo "snmpsim's example $SIM_EXAMPLES/$recording is missing" > "$dir/snmpsim-unavailable"
            return
        fi
        case "$recording" in
        *.gz) gzip -dc "$SIM_EXAMPLES/$recording" > "$data/records/$name" ;;
        *) cp "$SIM_EXAMPLES/$recording" "$data/records/$name" ;;
        esac
    done
    chmod 755 "$data" "$data/records"
    chmod 644 "$data/records"/*
    chown nobody:nogroup "$data/index"
    # The log's name on the command line lets stop_pid_file recognise it.
    snmpsimd --data-dir="$data/records" --cache-dir="$data/index" --v2c-arch \
        --agent-udpv4-endpoint="$SIM_V4:161" --process-user=nobody --process-group=nogroup \
        --logging-method="file:$dir/snmpsim.log" > "$dir/snmpsim.out" 2>&1 < /dev/null &
    echo $! > "$dir/snmpsim.pid"
}

# snmpbulkwalk of each recording, whole: walk-sim-NAME.txt.
record_recordings() {
    [ -f "$dir/snmpsim-unavailable" ] && return 0
    if ! AGENT_COMMUNITY=linksys-system wait_answer "$SIM_V4" .1.3.6.1.2.1.1.1.0; then
        echo "snmpsim did not answer; its output and log:" >&2
        cat "$dir/snmpsim.out" "$dir/snmpsim.log" >&2
        return 1
    fi
    for recording in $SIM_RECORDINGS; do
        name="$(basename "$recording" .gz)"
        name="${name%.*}"
        MIBS= snmpbulkwalk -v2c -c "$name" -On -Ox "$SIM_V4" .1 > "$dir/walk-sim-$name.txt" 2>&1 ||
            { cat "$dir/walk-sim-$name.txt" >&2; return 1; }
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
    rm -f "$dir/unavailable" "$dir"/walk-*.txt "$dir/linklocal" "$dir/linklocal-unavailable" \
        "$dir/snmpsim-unavailable"
    check_agent_tools
    PATH="$PATH:/usr/sbin"
    # The agents share a module; its compiled copy stays out of the checkout.
    PYTHONDONTWRITEBYTECODE=1
    export PYTHONDONTWRITEBYTECODE

    # The pass program's path is this checkout's, so the config is made here.
    {
        cat "$here/snmpd-interop.conf"
        echo "pass .1.3.6.1.4.1.55555.2 /usr/bin/env python3 $here/interop_values.py"
    } > "$dir/snmpd.conf"
    # -C: no system config; the state directory on the command line lets
    # stop_pid_file recognise the process. MIBS empty: numeric OIDs only.
    MIBS= snmpd -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" -p "$dir/snmpd.pid" \
        "udp:$SNMPD_V4:161,udp6:[::1]:$SNMPD_V6_PORT" > "$dir/snmpd.out" 2>&1 < /dev/null &
    snmpd_pid=$!
    # Its users live in a persistent directory of its own, fresh each start.
    rm -rf "$dir/demo-persistent"
    mkdir -p "$dir/demo-persistent"
    SNMP_PERSISTENT_DIR="$dir/demo-persistent" MIBS= MIBDIRS=/nonexistent snmpd -f \
        -Lf "$dir/demo-snmpd.log" -C -c "$here/../../demo/snmpd.conf" -p "$dir/demo-snmpd.pid" \
        "udp:$DEMO_V4:161" > "$dir/demo-snmpd.out" 2>&1 < /dev/null &
    python3 "$here/scripted_agent.py" "$AGENT_V4" 161 "$dir/agent.pid" \
        > "$dir/agent.log" 2>&1 < /dev/null &
    agent_pid=$!

    start_recordings

    link_local=""
    if reason="$(add_link_local)"; then
        link_local="$LINK_LOCAL%lo"
    else
        echo "$reason" > "$dir/linklocal-unavailable"
    fi
    python3 "$here/engine_agent.py" "$ENGINE_V4" "$dir/engine-agent.pid" $link_local \
        > "$dir/engine-agent.log" 2>&1 < /dev/null &

    if ! wait_answer "$SNMPD_V4" .1.3.6.1.2.1.1.5.0; then
        echo "snmpd did not answer; its log:" >&2
        cat "$dir/snmpd.log" >&2
        stop_all
        exit 1
    fi
    if ! AGENT_COMMUNITY=demo wait_answer "$DEMO_V4" .1.3.6.1.2.1.1.1.0; then
        echo "the demonstration printer's snmpd did not answer; its log:" >&2
        cat "$dir/demo-snmpd.log" >&2
        stop_all
        exit 1
    fi
    if ! wait_answer "$AGENT_V4" .1.3.6.1.4.1.55555.1.0; then
        echo "the scripted agent did not answer; its log:" >&2
        cat "$dir/agent.log" >&2
        stop_all
        exit 1
    fi
    # An answer from someone else's agent on our addresses is no good: ours
    # must still be running.
    if ! running "$snmpd_pid" || ! running "$agent_pid"; then
        echo "an agent of ours exited (address in use?):" >&2
        cat "$dir/snmpd.log" "$dir/agent.log" >&2
        stop_all
        exit 1
    fi
    n=0
    # Asked on the stats sub-tree of nothing (.0.99.99), which the agent does
    # not log: a probe of .20.1 was counted in the log the tests read.
    while ! MIBS= snmpgetnext -v1 -c public -t 0.2 -r 0 -On "$ENGINE_V4" \
            .1.3.6.1.4.1.55555.0.99.99 >/dev/null 2>&1; do
        n=$((n + 1))
        if [ $n -ge 100 ]; then
            echo "the engine agent did not answer; its log:" >&2
            cat "$dir/engine-agent.log" >&2
            stop_all
            exit 1
        fi
        sleep 0.1
    done
    # The agent serves the link-local address (or said why not): the tests
    # learn it with its zone as Windows writes one, the interface's index.
    if [ -n "$link_local" ] && [ ! -f "$dir/linklocal-unavailable" ]; then
        echo "$LINK_LOCAL%$(cat /sys/class/net/lo/ifindex)" > "$dir/linklocal"
    fi
    # The references: numeric names, every string in hex, whole view.
    MIBS= snmpwalk -v1 -c public -On -Ox "$SNMPD_V4" .1.3.6.1 > "$dir/walk-ipv4.txt" 2>&1 &&
    MIBS= snmpwalk -v1 -c public -On -Ox "udp6:[::1]:$SNMPD_V6_PORT" .1.3.6.1 \
        > "$dir/walk-ipv6.txt" 2>&1
    status=$?
    # snmpbulkwalk of each of the demonstration printer's sub-trees, for the
    # bulk walk to match: walk-demo-bulk-1.txt ... -5.txt.
    n=0
    for subtree in $DEMO_SUBTREES; do
        n=$((n + 1))
        [ $status -eq 0 ] || break
        MIBS= snmpbulkwalk -v2c -c demo -On "$DEMO_V4" "$subtree" > "$dir/walk-demo-bulk-$n.txt" 2>&1
        status=$?
    done
    [ $status -eq 0 ] && { record_recordings; status=$?; }
    if [ $status -ne 0 ]; then
        echo "snmpwalk failed:" >&2
        cat "$dir"/walk-*.txt >&2
        stop_all
        exit 1
    fi
    echo "agents started: snmpd $SNMPD_V4:161 [::1]:$SNMPD_V6_PORT, scripted $AGENT_V4:161," \
         "engine $ENGINE_V4:161 [::1]:161, snmpsim $SIM_V4:161" \
         "$(cat "$dir/snmpsim-unavailable" 2>/dev/null)"
    exit 0
    ;;
*)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
