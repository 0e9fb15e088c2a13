#!/bin/sh
# Walks a sub-tree of 1,000 objects served by net-snmp's snmpd, once through
# our WinSNMP (build/tests/bin/bench_walk.exe under Wine) and once with
# snmpwalk -v1, in the same run, and prints the times and their ratios.
# Criterion: our walk takes at most 2.0 x the blocking plain-Winsock walk of
# the same run (raw below), judged on the median round. Under Wine every
# Winsock call is a round trip to the Wine server, so even the raw walk is
# slower than snmpwalk; its ratio to snmpwalk is printed for information.
# A benchmark, not a timed test: it reports, and fails only when a walk does.
#   scripts/bench-walk.sh [BUILD_DIR] [ROUNDS]
# Needs root (port 161), snmpd, snmpwalk, wine and a built tree. Wine runs
# in a prefix of its own (made here, about 10 s), so that tests running in
# the build tree's prefix do not share its wineserver with us. Times:
#   snmpwalk    wall time of the snmpwalk process (its start-up included)
#   ours        the walk inside bench_walk.exe, SnmpStartup to SnmpCleanup
#   ours+wine   wall time of the Wine process, less an empty Wine start
#   raw         the same walk with plain blocking Winsock in one thread, no
#               WinSNMP (bench_walk --raw)
#   poll        the same on a non-blocking socket read until the answer is in
#               (bench_walk --poll): about four wineserver round trips per
#               request and no thread that sleeps, the floor of any Winsock
#               client under Wine. WinSNMP adds at least a PostMessage and a
#               GetMessage per request, a round trip each.
# Then the breakdown: the query engine itself (QueryOidSubtree, in
# build/tests/bin/bench_engine.exe, built with the step timing) walks one
# object of the sub-tree 200 times and the whole sub-tree 3 times, and
# prints each step of a walk's set-up and clean-up (ms per walk) and of an
# exchange (ms per exchange), measured with the performance counter.
set -eu

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
build="$(cd "$build" && pwd)"
rounds="${2:-3}"
address=127.0.0.43
root=.1.3.6.1.4.1.55555.7
objects=1000
client="$build/tests/bin/bench_walk.exe"
engine="$build/tests/bin/bench_engine.exe"

[ "$(id -u)" -eq 0 ] || { echo "needs root (snmpd on port 161)" >&2; exit 1; }
for f in "$client" "$engine"; do
    [ -f "$f" ] || { echo "build $f first: cmake --build $build --target bench_walk bench_engine" >&2; exit 1; }
done
PATH="$PATH:/usr/sbin"

state="$(mktemp -d /tmp/bench-walk.XXXXXX)"
WINEPREFIX="$state/prefix"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
stop() {
    if [ -f "$state/snmpd.pid" ]; then
        kill "$(cat "$state/snmpd.pid")" 2>/dev/null || true
        sleep 0.3
    fi
    # Our own prefix's server only.
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
    rm -rf "$state"
}
trap stop EXIT INT TERM

{
    echo "rocommunity public 127.0.0.0/8 $root"
    i=1
    while [ $i -le $objects ]; do
        echo "override $root.$i.0 octet_str \"bench value $i\""
        i=$((i + 1))
    done
} > "$state/snmpd.conf"
MIBS= snmpd -f -Lf "$state/snmpd.log" -C -c "$state/snmpd.conf" -p "$state/snmpd.pid" \
    "udp:$address:161" > /dev/null 2>&1 < /dev/null &
n=0
until snmpget -v1 -c public -t 0.2 -r 0 "$address" "$root.1.0" > /dev/null 2>&1; do
    n=$((n + 1))
    [ $n -lt 100 ] || { echo "snmpd did not start:" >&2; cat "$state/snmpd.log" >&2; exit 1; }
    sleep 0.1
done

wineboot -i > /dev/null 2>&1
wineserver -w
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f > /dev/null 2>&1
# Settled before the server is kept: a desktop started with the old driver
# would refuse the engine's top-level window.
wineserver -w
wineserver -p 60 < /dev/null > /dev/null 2>&1 || true

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

echo "sub-tree $root: $objects objects on $address, $rounds rounds"
printf "%-6s %9s %9s %9s %9s %9s %9s %7s %7s %7s %7s %8s\n" round snmpwalk ours wine-start \
    ours+wine raw poll ratio ratio+w raw/sw poll/sw ours/raw
criterion=2.00
ratios=""
i=1
while [ $i -le "$rounds" ]; do
    t0=$(now)
    MIBS= snmpwalk -v1 -c public -On "$address" "$root" > "$state/walk.txt"
    t1=$(now)
    count=$(grep -c "^$root\." "$state/walk.txt" || true)
    [ "$count" -eq $objects ] || { echo "snmpwalk saw $count objects" >&2; exit 1; }
    snmpwalk_s=$(elapsed "$t0" "$t1")

    t0=$(now)
    wine "$client" --noop > /dev/null 2>&1
    t1=$(now)
    wine_s=$(elapsed "$t0" "$t1")

    t0=$(now)
    out=$(wine "$client" "$address" 161 public "${root#.}" 2>/dev/null | tr -d '\r')
    t1=$(now)
    total_s=$(elapsed "$t0" "$t1")
    case "$out" in
    "objects=$objects seconds="*) ;;
    *) echo "our walk failed: $out" >&2; exit 1 ;;
    esac
    ours_s=${out#*seconds=}
    out=$(wine "$client" --raw "$address" 161 public "${root#.}" 2>/dev/null | tr -d '\r')
    case "$out" in
    "objects=$objects seconds="*) ;;
    *) echo "the raw walk failed: $out" >&2; exit 1 ;;
    esac
    raw_s=${out#*seconds=}
    out=$(wine "$client" --poll "$address" 161 public "${root#.}" 2>/dev/null | tr -d '\r')
    case "$out" in
    "objects=$objects seconds="*) ;;
    *) echo "the polling walk failed: $out" >&2; exit 1 ;;
    esac
    poll_s=${out#*seconds=}
    raw_ratio=$(echo "$raw_s / $snmpwalk_s" | bc -l)
    poll_ratio=$(echo "$poll_s / $snmpwalk_s" | bc -l)
    ratio=$(echo "$ours_s / $snmpwalk_s" | bc -l)
    ratio_w=$(echo "($total_s - $wine_s) / $snmpwalk_s" | bc -l)
    ours_raw=$(echo "$ours_s / $raw_s" | bc -l)
    ratios="$ratios $(printf "%.4f" "$ours_raw")"
    printf "%-6s %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %7.2f %7.2f %7.2f %7.2f %8.2f\n" "$i" \
        "$snmpwalk_s" "$ours_s" "$wine_s" "$total_s" "$raw_s" "$poll_s" "$ratio" "$ratio_w" \
        "$raw_ratio" "$poll_ratio" "$ours_raw"
    i=$((i + 1))
done
echo "times in seconds; ratio = ours / snmpwalk, ratio+w = (ours+wine - wine-start) / snmpwalk,"
echo "raw/sw = raw / snmpwalk, poll/sw = poll / snmpwalk, ours/raw = ours / raw"
# The median round (the lower middle one for an even count).
median=$(for r in $ratios; do echo "$r"; done | sort -n | sed -n "$(( (rounds + 1) / 2 ))p")
if [ "$(echo "$median <= $criterion" | bc -l)" -eq 1 ]; then verdict=met; else verdict="NOT met"; fi
printf "criterion: ours / raw <= %s (our walk against the blocking plain-Winsock walk of the\n" \
    "$criterion"
printf "same run), median %.2f over %s rounds: %s\n" "$median" "$rounds" "$verdict"

echo
echo "The query engine's walk, step by step (the engine benchmark):"
wine "$engine" "$address" public "${root#.}.1" "${root#.}" 200 3 2>&1 | tr -d '\r'
