#!/bin/sh
# The cost of SNMPv3: walks a sub-tree of 1,000 objects served by net-snmp's
# snmpd through our WinSNMP (build/tests/bin/bench_walk.exe under Wine) once
# with SNMPv1 and once with SNMPv3 authPriv (HMAC-SHA-96, AES-128), and the
# same two with snmpwalk, in the same run, and prints the times and ratios.
# A benchmark, not a timed test: it reports, and fails only when a walk does.
#   scripts/bench-walk-v3.sh [BUILD_DIR] [ROUNDS]
# Needs root (port 161), snmpd, snmpwalk, wine and a built tree; Wine runs in
# a prefix of its own (made here). Times, in seconds:
#   v1, v3        our walk inside bench_walk.exe, SnmpStartup to SnmpCleanup
#                 (for v3: the keys from the passwords and the engine's
#                 discovery included)
#   sw-v1, sw-v3  wall time of the snmpwalk process
set -eu

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
build="$(cd "$build" && pwd)"
rounds="${2:-3}"
address=127.0.0.74
root=.1.3.6.1.4.1.55555.7
objects=1000
client="$build/tests/bin/bench_walk.exe"

[ "$(id -u)" -eq 0 ] || { echo "needs root (snmpd on port 161)" >&2; exit 1; }
[ -f "$client" ] || { echo "build bench_walk first: cmake --build $build --target bench_walk" >&2; exit 1; }
PATH="$PATH:/usr/sbin"

state="$(mktemp -d /tmp/bench-walk-v3.XXXXXX)"
WINEPREFIX="$state/prefix"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
MIBS=
MIBDIRS=/nonexistent
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES MIBS MIBDIRS
stop() {
    if [ -f "$state/snmpd.pid" ]; then
        kill "$(cat "$state/snmpd.pid")" 2>/dev/null || true
        sleep 0.3
    fi
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
    rm -rf "$state"
}
trap stop EXIT INT TERM

{
    echo "rocommunity public 127.0.0.0/8 $root"
    echo "createUser bench SHA \"bench-auth\" AES \"bench-priv\""
    echo "rouser bench priv"
    i=1
    while [ $i -le $objects ]; do
        echo "override $root.$i.0 octet_str \"bench value $i\""
        i=$((i + 1))
    done
} > "$state/snmpd.conf"
mkdir -p "$state/persistent"
SNMP_PERSISTENT_DIR="$state/persistent" snmpd -f -Lf "$state/snmpd.log" -C \
    -c "$state/snmpd.conf" -p "$state/snmpd.pid" "udp:$address:161" > /dev/null 2>&1 < /dev/null &
n=0
until snmpget -v1 -c public -t 0.2 -r 0 "$address" "$root.1.0" > /dev/null 2>&1; do
    n=$((n + 1))
    [ $n -lt 100 ] || { echo "snmpd did not start:" >&2; cat "$state/snmpd.log" >&2; exit 1; }
    sleep 0.1
done

wineboot -i > /dev/null 2>&1
wineserver -w
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f > /dev/null 2>&1
wineserver -p 60 < /dev/null > /dev/null 2>&1 || true

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }
# ours [v3]: our walk's seconds, or the script ends.
ours() {
    if [ "${1:-}" = v3 ]; then
        out=$(VR_BENCH_V3_USER=bench VR_SNMP_AUTH_PASSWORD=bench-auth \
              VR_SNMP_PRIV_PASSWORD=bench-priv WINEDEBUG=-all \
              wine "$client" "$address" 161 public "${root#.}" 2>/dev/null | tr -d '\r')
    else
        out=$(wine "$client" "$address" 161 public "${root#.}" 2>/dev/null | tr -d '\r')
    fi
    case "$out" in
    "objects=$objects seconds="*) echo "${out#*seconds=}" ;;
    *) echo "our ${1:-v1} walk failed: $out" >&2; exit 1 ;;
    esac
}
snmpwalk_time() {
    t0=$(now)
    snmpwalk -On "$@" "$address" "$root" > "$state/walk.txt"
    t1=$(now)
    count=$(grep -c "^$root\." "$state/walk.txt" || true)
    [ "$count" -eq $objects ] || { echo "snmpwalk $* saw $count objects" >&2; exit 1; }
    elapsed "$t0" "$t1"
}

echo "sub-tree $root: $objects objects on $address, $rounds rounds"
printf "%-6s %9s %9s %9s %9s %8s %8s\n" round v1 v3 sw-v1 sw-v3 v3/v1 sw-v3/v1
i=1
while [ $i -le "$rounds" ]; do
    sw1=$(snmpwalk_time -v1 -c public)
    sw3=$(snmpwalk_time -v3 -l authPriv -u bench -a SHA -A bench-auth -x AES -X bench-priv)
    v1=$(ours)
    v3=$(ours v3)
    printf "%-6s %9.3f %9.3f %9.3f %9.3f %8.2f %8.2f\n" "$i" "$v1" "$v3" "$sw1" "$sw3" \
        "$(echo "$v3 / $v1" | bc -l)" "$(echo "$sw3 / $sw1" | bc -l)"
    i=$((i + 1))
done
echo "times in seconds; v3/v1 = our SNMPv3 authPriv walk / our SNMPv1 walk"
