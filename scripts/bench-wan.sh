#!/bin/sh
# The console program across a slow link: the demonstration printer's agent
# (snmpd with demo/snmpd.conf on 127.0.0.136) behind a UDP relay of ours
# (scripts/udp-delay-relay.py on 127.0.0.137) that holds every datagram
# DELAY_MS in each direction. For the same printer in one run it prints the
# console's detection over SNMPv1 (GetNext), over --v2c (GetBulk) and over
# SNMPv3 (GetBulk, authPriv), and snmpbulkwalk -v2c of the same sub-trees
# (sysDescr and the four options, as the detection walks them): each as
# wall time, the detection's own time (the report's milliseconds, without
# Wine's start), the exchanges the report counts and the datagrams the relay
# forwarded (requests/replies).
# Aims, at 25 ms each way: --v2c sends at most one request more per
# sub-tree than snmpbulkwalk, and its detection takes at most a third of the
# SNMPv1 detection's time. A benchmark, not a timed test: it prints whether
# each aim was met, and fails only when a run fails.
#   scripts/bench-wan.sh [BUILD_DIR] [DELAY_MS]
# Needs root (port 161), snmpd, snmpbulkwalk, python3, wine and a built
# tree. Wine runs in a prefix of its own (made here, about 10 s).
set -eu

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build}"
build="$(cd "$build" && pwd)"
delay="${2:-25}"
agent=127.0.0.136
relay=127.0.0.137
detector="$build/bin/VRAutoDetect.exe"
subtrees=".1.3.6.1.2.1.1.1 .1.3.6.1.4.1.55555.100.1 .1.3.6.1.4.1.55555.100.2
.1.3.6.1.4.1.55555.100.3 .1.3.6.1.4.1.55555.100.4"

[ "$(id -u)" -eq 0 ] || { echo "needs root (snmpd on port 161)" >&2; exit 1; }
[ -f "$detector" ] && [ -f "$build/bin/VRUnPQ.xml" ] ||
    { echo "build $detector first (make build)" >&2; exit 1; }
PATH="$PATH:/usr/sbin"
for tool in snmpd snmpbulkwalk python3 wine wineboot wineserver; do
    command -v "$tool" > /dev/null 2>&1 || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

state="$(mktemp -d /tmp/bench-wan.XXXXXX)"
WINEPREFIX="$state/prefix"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
MIBS=
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES MIBS
# Stops what this script started, by the PIDs written, and our prefix's server.
stop() {
    for pid_file in "$state/snmpd.pid" "$state/relay.pid"; do
        [ -f "$pid_file" ] && kill "$(cat "$pid_file")" 2>/dev/null || true
    done
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
    sleep 0.3
    rm -rf "$state"
}
trap stop EXIT INT TERM

mkdir -p "$state/persistent"
SNMP_PERSISTENT_DIR="$state/persistent" MIBDIRS=/nonexistent snmpd -f -Lf "$state/snmpd.log" -C \
    -c "$here/../demo/snmpd.conf" -p "$state/snmpd.pid" "udp:$agent:161" \
    > /dev/null 2>&1 < /dev/null &
python3 "$here/udp-delay-relay.py" "$relay" "$agent" 161 "$delay" "$state/relay.stats" \
    "$state/relay.pid" > "$state/relay.log" 2>&1 < /dev/null &
n=0
until snmpget -v1 -c demo -t 1 -r 0 "$relay" .1.3.6.1.2.1.1.1.0 > /dev/null 2>&1; do
    n=$((n + 1))
    [ $n -lt 50 ] || { echo "the agent did not answer through the relay:" >&2;
                       cat "$state/snmpd.log" "$state/relay.log" >&2; exit 1; }
    sleep 0.2
done

wineboot -i > /dev/null 2>&1
wineserver -w
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f > /dev/null 2>&1
wineserver -k
wineserver -w
wineserver -p 60 < /dev/null > /dev/null 2>&1 || true
wine cmd /c exit > /dev/null 2>&1 || true

now() { date +%s.%N; }
forwarded() { cat "$state/relay.stats"; }
# run LABEL COMMAND...: one line of the table; the relay's counts are those
# of this run alone. With the console, its JSON report gives the
# detection's time and exchanges (and says whether all was detected).
run() {
    label=$1
    shift
    before=$(forwarded)
    t0=$(now)
    "$@" > "$state/out.txt" 2> "$state/err.txt" || true
    t1=$(now)
    after=$(forwarded)
    wall=$(echo "$t1 - $t0" | bc -l)
    requests=$(( ${after% *} - ${before% *} ))
    replies=$(( ${after#* } - ${before#* } ))
    inner=$(python3 - "$state/out.txt" "$label" <<'EOF'
import json, sys
label = sys.argv[2]
if label.startswith("snmpbulkwalk"):
    print("- -")
    sys.exit(0)
report = json.load(open(sys.argv[1], encoding="utf-8"))["printers"][0]
walks = [report["sysDescr"]] + [option["walk"] for option in report["options"]]
if report["status"] != "detected":
    sys.exit("%s: not detected: %s" % (label, report.get("reason")))
print("%.3f %d" % (report["milliseconds"] / 1000.0, sum(w["exchanges"] for w in walks)))
EOF
) || { echo "$label failed:"; cat "$state/out.txt" "$state/err.txt"; exit 1; } >&2
    printf "%-22s %8.3f %10s %10s %9s %8s\n" "$label" "$wall" "${inner% *}" "${inner#* }" \
        "$requests" "$replies"
    echo "$label $wall ${inner% *} $requests" >> "$state/figures"
}
bulkwalks() {
    for subtree in $subtrees; do
        snmpbulkwalk -v2c -c demo -t 2 -On "$relay" "$subtree" || return 1
    done
}
console() {
    wine "$detector" --address "$relay" --timeout 2 --json "$@"
}

echo "demonstration printer $agent behind relay $relay, $delay ms each way"
printf "%-22s %8s %10s %10s %9s %8s\n" "" "wall s" "detect s" "exchanges" "requests" "replies"
run "SNMPv1 GetNext" console --community demo
run "SNMPv2c GetBulk" console --community demo --v2c
VR_SNMP_AUTH_PASSWORD=vrdemo-auth-pass VR_SNMP_PRIV_PASSWORD=vrdemo-priv-pass \
    run "SNMPv3 GetBulk" console --v3-user vrdemo --v3-auth SHA --v3-priv AES
run "snmpbulkwalk -v2c" bulkwalks

python3 - "$state/figures" 5 <<'EOF'
import sys
rows = {}
for line in open(sys.argv[1]):
    parts = line.split()
    rows[" ".join(parts[:-3])] = (float(parts[-3]), parts[-2], int(parts[-1]))
subtrees = int(sys.argv[2])
v1, v2c, ref = rows["SNMPv1 GetNext"], rows["SNMPv2c GetBulk"], rows["snmpbulkwalk -v2c"]
extra = v2c[2] - ref[2]
print("--v2c requests beyond snmpbulkwalk's: %d over %d sub-trees (aim: at most %d): %s"
      % (extra, subtrees, subtrees, "met" if extra <= subtrees else "NOT met"))
ratio = float(v2c[1]) / float(v1[1])
print("--v2c detection / SNMPv1 detection: %.2f (aim: at most 0.33): %s"
      % (ratio, "met" if ratio <= 1 / 3 else "NOT met"))
wall = v2c[0] / v1[0]
print("the same in wall time, Wine's start included: %.2f" % wall)
EOF
