#!/bin/sh
# A print server's fleet, measured: VRAutoDetect.exe --all over 100 printers
# of our own in a Wine prefix of its own (BUILD/bench-fleet/prefix), each on
# a Standard TCP/IP port (answered by our stand-in monitor) that names its
# own loopback address 127.0.2.1 ... 127.0.2.100. One net-snmp snmpd plays
# the first 90 (the demonstration printer's demo/snmpd.conf, listening on
# all 90 addresses); the last 10 are silent. Time-out 1 s.
# In one run: --jobs 1, the default --jobs 4 and --jobs 16, each timed from
# the start of the command to its end, with the program's own figures (its
# summary, and the sum of the printers' own times).
# Aim: the parallel run (--jobs 16) within 20 % of the sequential one
# (--jobs 1), that is at most 0.20 x its time.
# Not a test: prints the figures; exits 1 when a run's counts are not 90
# detected and 10 failed, or the aim is missed.
#   scripts/bench-fleet.sh [BUILD_DIR]
# Needs root (port 161). Run it under the machine's test lock
# (flock /tmp/vr-ctest.lock).
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd) || exit 1
state=$build/bench-fleet
program=$build/bin/VRAutoDetect.exe
monitor=$build/bin/vrtcpmon.dll
DRIVER="VR Fleet Bench Driver"
PRINTERS=100
ANSWERED=90
WINEPREFIX=$state/prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
PATH=$PATH:/usr/sbin
MIBS=
export MIBS

fail() {
    echo "bench-fleet: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "needs root: the agents listen on port 161"
for f in "$program" "$build/bin/VRUnPQ.xml" "$monitor"; do
    [ -f "$f" ] || fail "$f is missing: build first (make build)"
done
for tool in snmpd snmpget wine wineserver python3; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (scripts/install-deps.sh)"
done
mkdir -p "$state"

cleanup() {
    if [ -f "$state/snmpd.pid" ]; then
        pid=$(cat "$state/snmpd.pid")
        # Only the snmpd we started: its command line names our state directory.
        if tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | grep -q -- "$state/"; then
            kill "$pid" 2>/dev/null
            sleep 0.5
            kill -9 "$pid" 2>/dev/null
        fi
        rm -f "$state/snmpd.pid"
    fi
    [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
    return 0
}
cleanup
trap cleanup EXIT
trap 'echo "bench-fleet: interrupted" >&2; exit 130' INT TERM HUP

# The printers and their ports.
python3 - "$state/fleet.reg" "$PRINTERS" "$DRIVER" <<'PY'
import sys
path, count, driver = sys.argv[1], int(sys.argv[2]), sys.argv[3]
base = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print"
lines = ["REGEDIT4", ""]
for n in range(1, count + 1):
    name, port = "VR Fleet %03d" % n, "VRFLEET_%03d" % n
    lines += ["[%s\\Printers\\%s]" % (base, name), '"Name"="%s"' % name, '"Port"="%s"' % port,
              '"Printer Driver"="%s"' % driver, '"Print Processor"="wineps"', '"Datatype"="RAW"',
              '"Attributes"=dword:00000040', "",
              "[%s\\Monitors\\Standard TCP/IP Port\\Ports\\%s]" % (base, port),
              '"HostName"="127.0.2.%d"' % n, '"SNMP Community"="demo"', ""]
open(path, "w").write("\n".join(lines) + "\n")
PY
echo "Making the Wine prefix $WINEPREFIX with $PRINTERS printers"
sh "$root/tests/prefix/make-prefix.sh" "$WINEPREFIX" "$monitor" >"$state/prefix.log" 2>&1 ||
    { cat "$state/prefix.log" >&2; fail "the prefix could not be made"; }
wine reg import "$(winepath -w "$state/fleet.reg" 2>/dev/null)" >/dev/null 2>&1 ||
    fail "the printers could not be registered"

# One snmpd on the 90 answered addresses.
endpoints=$(seq 1 "$ANSWERED" | sed 's/^/udp:127.0.2./; s/$/:161/' | paste -sd, -)
cp "$root/demo/snmpd.conf" "$state/snmpd.conf"
# Its SNMPv3 user is kept in a persistent directory of this run's own.
rm -rf "$state/persistent"
mkdir -p "$state/persistent"
SNMP_PERSISTENT_DIR="$state/persistent" snmpd -f -Lf "$state/snmpd.log" -C -c "$state/snmpd.conf" -p "$state/snmpd.pid" "$endpoints" \
    </dev/null >/dev/null 2>&1 &
n=0
until snmpget -v1 -c demo -t 0.2 -r 0 "127.0.2.$ANSWERED" .1.3.6.1.2.1.1.1.0 >/dev/null 2>&1; do
    n=$((n + 1))
    [ $n -lt 100 ] || { cat "$state/snmpd.log" >&2; fail "snmpd did not start"; }
    sleep 0.1
done
snmpget -v1 -c demo -t 0.2 -r 0 127.0.2.1 .1.3.6.1.2.1.1.1.0 >/dev/null 2>&1 ||
    fail "snmpd does not answer on 127.0.2.1"
echo "snmpd answers on 127.0.2.1 ... 127.0.2.$ANSWERED; 127.0.2.$((ANSWERED + 1)) ... 127.0.2.$PRINTERS are silent"

status=0
for jobs in 1 4 16; do
    started=$(date +%s.%N)
    wine "$program" --all --driver "$DRIVER" --jobs "$jobs" --timeout 1 --json \
        >"$state/jobs-$jobs.json" 2>"$state/jobs-$jobs.err"
    code=$?
    ended=$(date +%s.%N)
    python3 - "$state/jobs-$jobs.json" "$jobs" "$code" "$started" "$ended" "$ANSWERED" \
        "$((PRINTERS - ANSWERED))" >"$state/jobs-$jobs.txt" <<'PY' || status=1
import json, sys
path, jobs, code, started, ended, answered, silent = sys.argv[1:8]
d = json.load(open(path))
s = d["summary"]
own = sum(p["milliseconds"] for p in d["printers"])
wall = float(ended) - float(started)
print("%s %.2f" % (jobs, wall))
sys.stderr.write("--jobs %-2s  %6.2f s from start to end (exit %s); the program's total %.2f s; "
                 "the printers' own times together %.2f s; %d detected, %d failed, %d skipped\n"
                 % (jobs, wall, code, s["milliseconds"] / 1000, own / 1000, s["detected"],
                    s["failed"], s["skipped"]))
sys.exit(0 if (s["detected"], s["failed"]) == (int(answered), int(silent)) else 1)
PY
done
python3 - "$state/jobs-1.txt" "$state/jobs-4.txt" "$state/jobs-16.txt" <<'PY' || status=1
import sys
wall = dict(tuple(open(p).read().split()) for p in sys.argv[1:])
one, four, sixteen = float(wall["1"]), float(wall["4"]), float(wall["16"])
print("--jobs 4:  %.1f %% of the sequential run (%.1f x faster)" % (100 * four / one, one / four))
print("--jobs 16: %.1f %% of the sequential run (%.1f x faster); aim at most 20 %%: %s"
      % (100 * sixteen / one, one / sixteen, "met" if sixteen <= 0.2 * one else "MISSED"))
sys.exit(0 if sixteen <= 0.2 * one else 1)
PY
exit $status
