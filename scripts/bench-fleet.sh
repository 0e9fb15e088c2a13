#!/bin/sh
# A print server's fleet, measured: VRAutoDetect.exe --all over PRINTERS
# printers (default 100) of our own in a Wine prefix of its own
# (BUILD/bench-fleet/prefix), each on a Standard TCP/IP port (answered by
# our stand-in monitor) that names its own loopback address, 127.20.0.1
# onwards. Every tenth printer is silent; one net-snmp snmpd plays the
# others (the demonstration printer's demo/snmpd.conf, listening on each of
# their addresses). Time-out 1 s.
# Each run is timed from the start of the command to its end, beside its
# bound: the slowest printer's own time, or the printers' own times added
# up and divided by the jobs, whichever is larger (no run can beat it), and
# the ratio to it. With up to 100 printers: --jobs 1, the default --jobs 4
# and --jobs 16; with more, --jobs 16 alone.
# Aims: --jobs 16 at most 1.5 x its bound; with up to 100 printers also at
# most 0.15 x the sequential run (--jobs 1).
# Wine's floor, measured in the same run: after those runs the silent
# printers are moved to a driver of their own, and the answered printers are
# asked alone (the same printers, the same registry), --jobs 1 and --jobs 16.
# Under Wine every call is a round trip to the one wineserver, so their work
# hardly overlaps: in name order the last silent printer cannot be handed
# out before the answered printers ahead of it are done, at the best pace
# the answered printers alone showed, and it then waits its own time. That
# sum (or the bound, when larger) is the floor, an estimate, that each
# --jobs 16 run is also set against.
# Not a test: prints the figures; exits 1 when a run's counts are not the
# answered printers detected and the silent ones failed, or an aim is missed.
#   scripts/bench-fleet.sh [BUILD_DIR] [PRINTERS]
# Needs root (port 161). Run it under the machine's test lock
# (flock /tmp/vr-ctest.lock).
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd) || exit 1
state=$build/bench-fleet
program=$build/bin/VRAutoDetect.exe
monitor=$build/bin/vrtcpmon.dll
DRIVER="VR Fleet Bench Driver"
SILENT_DRIVER="VR Fleet Bench Silent"
PRINTERS=${2:-100}
case "$PRINTERS" in
''|*[!0-9]*) echo "bench-fleet: PRINTERS is a number of printers, not \"$PRINTERS\"" >&2; exit 1 ;;
esac
[ "$PRINTERS" -ge 10 ] && [ "$PRINTERS" -le 5000 ] ||
    { echo "bench-fleet: from 10 to 5000 printers" >&2; exit 1; }
SILENT=$((PRINTERS / 10))
ANSWERED=$((PRINTERS - SILENT))
if [ "$PRINTERS" -le 100 ]; then RUNS="1 4 16"; else RUNS=16; fi
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

# The printers and their ports; the answered addresses, one a line.
python3 - "$state/fleet.reg" "$state/silent.reg" "$PRINTERS" "$DRIVER" "$SILENT_DRIVER" \
    >"$state/answered" <<'PY'
import sys
path, silent_path, count, driver, silent_driver = sys.argv[1], sys.argv[2], int(sys.argv[3]), \
    sys.argv[4], sys.argv[5]
base = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print"
lines = ["REGEDIT4", ""]
# For Wine's floor: the silent printers moved off the fleet's driver.
silent = ["REGEDIT4", ""]
for n in range(1, count + 1):
    name, port = "VR Fleet %04d" % n, "VRFLEET_%04d" % n
    address = "127.20.%d.%d" % ((n - 1) // 250, (n - 1) % 250 + 1)
    lines += ["[%s\\Printers\\%s]" % (base, name), '"Name"="%s"' % name, '"Port"="%s"' % port,
              '"Printer Driver"="%s"' % driver, '"Print Processor"="wineps"', '"Datatype"="RAW"',
              '"Attributes"=dword:00000040', "",
              "[%s\\Monitors\\Standard TCP/IP Port\\Ports\\%s]" % (base, port),
              '"HostName"="%s"' % address, '"SNMP Community"="demo"', ""]
    if n % 10 != 0:
        print(address)
    else:
        silent += ["[%s\\Printers\\%s]" % (base, name),
                   '"Printer Driver"="%s"' % silent_driver, ""]
open(path, "w").write("\n".join(lines) + "\n")
open(silent_path, "w").write("\n".join(silent) + "\n")
PY
echo "Making the Wine prefix $WINEPREFIX with $PRINTERS printers"
sh "$root/tests/prefix/make-prefix.sh" "$WINEPREFIX" "$monitor" >"$state/prefix.log" 2>&1 ||
    { cat "$state/prefix.log" >&2; fail "the prefix could not be made"; }
wine reg import "$(winepath -w "$state/fleet.reg" 2>/dev/null)" >/dev/null 2>&1 ||
    fail "the printers could not be registered"

# One snmpd on the answered addresses (a socket each).
endpoints=$(sed 's/^/udp:/; s/$/:161/' "$state/answered" | paste -sd, -)
ulimit -n $((PRINTERS + 256)) 2>/dev/null ||
    fail "the open-file limit does not allow $PRINTERS sockets (ulimit -n)"
cp "$root/demo/snmpd.conf" "$state/snmpd.conf"
# Its SNMPv3 user is kept in a persistent directory of this run's own.
rm -rf "$state/persistent"
mkdir -p "$state/persistent"
SNMP_PERSISTENT_DIR="$state/persistent" snmpd -f -Lf "$state/snmpd.log" -C -c "$state/snmpd.conf" -p "$state/snmpd.pid" "$endpoints" \
    </dev/null >/dev/null 2>&1 &
first=$(head -n 1 "$state/answered")
last=$(tail -n 1 "$state/answered")
n=0
until snmpget -v1 -c demo -t 0.2 -r 0 "$last" .1.3.6.1.2.1.1.1.0 >/dev/null 2>&1; do
    n=$((n + 1))
    [ $n -lt 300 ] || { cat "$state/snmpd.log" >&2; fail "snmpd did not start"; }
    sleep 0.1
done
snmpget -v1 -c demo -t 0.2 -r 0 "$first" .1.3.6.1.2.1.1.1.0 >/dev/null 2>&1 ||
    fail "snmpd does not answer on $first"
echo "snmpd answers for $ANSWERED printers ($first ... $last); every tenth printer, $SILENT, is silent"

# One timed run: its name, the driver, the jobs, and the printers it must
# find detected and failed. Leaves NAME.json and NAME.txt ("jobs wall bound
# slowest-failed").
timed_run() {
    name=$1 driver=$2 jobs=$3 detected=$4 failed=$5
    started=$(date +%s.%N)
    wine "$program" --all --driver "$driver" --jobs "$jobs" --timeout 1 --json \
        >"$state/$name.json" 2>"$state/$name.err"
    code=$?
    ended=$(date +%s.%N)
    python3 - "$state/$name.json" "$jobs" "$code" "$started" "$ended" "$detected" \
        "$failed" "$name" >"$state/$name.txt" <<'PY' || status=1
import json, sys
path, jobs, code, started, ended, detected, failed, name = sys.argv[1:9]
d = json.load(open(path))
s = d["summary"]
own = [p["milliseconds"] / 1000 for p in d["printers"]]
silent = [p["milliseconds"] / 1000 for p in d["printers"] if p["status"] == "failed"]
wall = float(ended) - float(started)
# No schedule of these printers on this many workers ends sooner.
bound = max(max(own), sum(own) / int(jobs))
print("%s %.3f %.3f %.3f" % (jobs, wall, bound, max(silent) if silent else 0))
sys.stderr.write("%-19s %7.2f s from start to end (exit %s); bound %.2f s (slowest printer "
                 "%.2f s, own times together %.2f s / %s), ratio %.2f; the program's total %.2f s; "
                 "%d detected, %d failed, %d skipped\n"
                 % (name, wall, code, bound, max(own), sum(own), jobs, wall / bound,
                    s["milliseconds"] / 1000, s["detected"], s["failed"], s["skipped"]))
sys.exit(0 if (s["detected"], s["failed"]) == (int(detected), int(failed)) else 1)
PY
}

status=0
for jobs in $RUNS; do
    timed_run "jobs-$jobs" "$DRIVER" "$jobs" "$ANSWERED" "$SILENT"
done
# Wine's floor: the answered printers alone.
wine reg import "$(winepath -w "$state/silent.reg" 2>/dev/null)" >/dev/null 2>&1 ||
    fail "the silent printers could not be moved to a driver of their own"
for jobs in 1 16; do
    timed_run "answered-$jobs" "$DRIVER" "$jobs" "$ANSWERED" 0
done
python3 - "$PRINTERS" "$ANSWERED" "$state" $RUNS <<'PY' || status=1
import sys
printers, answered, state = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
def read(name):
    jobs, wall, bound, slowest = open("%s/%s.txt" % (state, name)).read().split()
    return float(wall), float(bound), float(slowest)
runs = dict((jobs, read("jobs-" + jobs)) for jobs in sys.argv[4:])
alone = dict((jobs, read("answered-" + jobs)) for jobs in ("1", "16"))
met = True
wall, bound, slowest = runs["16"]
ok = wall <= 1.5 * bound
met = met and ok
print("--jobs 16: %.2f s, %.2f x its bound of %.2f s; aim at most 1.5 x: %s"
      % (wall, wall / bound, bound, "met" if ok else "MISSED"))
if "1" in runs:
    one = runs["1"][0]
    if "4" in runs:
        print("--jobs 4:  %.1f %% of the sequential run (%.1f x faster)"
              % (100 * runs["4"][0] / one, one / runs["4"][0]))
    ok = wall <= 0.15 * one
    met = met and ok
    print("--jobs 16: %.1f %% of the sequential run (%.1f x faster); aim at most 15 %%: %s"
          % (100 * wall / one, one / wall, "met" if ok else "MISSED"))
# The last silent printer in name order, and the answered printers ahead of it.
last = printers - printers % 10
ahead = last - last // 10
pace = min(alone["1"][0], alone["16"][0]) * ahead / answered
floor = max(bound, pace + slowest)
print("Wine's floor: the %d answered printers alone take %.2f s with --jobs 1 and %.2f s with "
      "--jobs 16 (%.2f x faster); the %d ahead of the last silent printer take %.2f s at the "
      "better pace, and it then waits %.2f s: about %.2f s in all. --jobs 16 is %.2f x that "
      "floor."
      % (answered, alone["1"][0], alone["16"][0], alone["1"][0] / alone["16"][0], ahead, pace,
         slowest, floor, wall / floor))
sys.exit(0 if met else 1)
PY
exit $status
