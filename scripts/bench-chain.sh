#!/bin/sh
# The whole chain, measured: the real program (BUILD/bin/VRAutoConfig.exe
# under Wine, on Xvfb :95, OK pressed as a user would) against the
# demonstration printer's agent, and, in the same run, the same four
# sub-tree walks as four `snmpwalk -v1` processes. Two query maps: the
# demonstration printer's (16 exchanges in all) and one of four sub-trees
# of K objects each (4 x (K + 1) exchanges), so that each side's time splits
# into a fixed cost per walk and a cost per exchange:
#   per exchange  = (T_large - T_small) / (E_large - E_small)
#   fixed per walk = (T_small - E_small x per exchange) / 4
# Aims, in the same run on a quiet machine: OK to the program's end within
# 1.3 x the four snmpwalk processes; the fixed cost per walk at most one
# snmpwalk process's whole cost (its start included); the cost per exchange
# at most 1.5 x the plain blocking Winsock walk's (scripts/bench-walk.sh,
# "raw", per object). Where the time goes: the engine benchmark at the end
# of scripts/bench-walk.sh.
# Then a silent printer (an agent on 127.0.0.62 that knows no community of
# ours): OK to the connection error box must take (1 + 3 retries) x the
# time-out, within 5 %, for time-outs of 1 and 2 seconds.
# Not a test: prints the figures and exits 1 when an aim is missed.
#   scripts/bench-chain.sh [BUILD_DIR] [ROUNDS] [K]
# Needs root (port 161); shares BUILD/demo-prefix and the lock with
# scripts/run-demo.sh.
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd) || exit 1
rounds=${2:-5}
objects=${3:-50}
. "$root/scripts/demo-lib.sh"
SILENT=127.0.0.62
SILENT_PRINTER="VR Demo Silent Printer"
RETRIES=3
SMALL_BASE=.1.3.6.1.4.1.55555.100
LARGE_BASE=.1.3.6.1.4.1.55555.101

demo_check bc snmpwalk
demo_lock "$0" "$build" "$rounds" "$objects"

demo_cleanup
trap 'demo_cleanup; rm -rf "$state/bench"' EXIT
trap 'echo "bench-chain: interrupted" >&2; exit 130' INT TERM HUP

# English texts whatever the user's language: the box is found by caption.
LC_ALL=C
export LC_ALL

# ---- agents: the demonstration printer with a large set of sub-trees too,
# and the silent one ----------------------------------------------------------
bench=$state/bench
rm -rf "$bench"
mkdir -p "$bench/small" "$bench/large"
{
    cat "$root/demo/snmpd.conf"
    echo "view demo included $LARGE_BASE"
    s=1
    while [ $s -le 4 ]; do
        i=1
        while [ $i -le "$objects" ]; do
            echo "override $LARGE_BASE.$s.$i.0 octet_str \"option $s value $i\""
            i=$((i + 1))
        done
        s=$((s + 1))
    done
} >"$bench/agent.conf"
start_agent "$AGENT" "$bench/agent.conf" demo
echo "rocommunity not-demo 127.0.0.0/8" >"$bench/silent.conf"
start_agent "$SILENT" "$bench/silent.conf" ""

# ---- the program, twice, each beside its map -----------------------------------
map() {
    printf "<?xml version='1.0'?>\r\n<QueryMap>\r\n"
    for option in HardDisk:1 RAMDisk:1 3000Finisher:2 PunchingUnit:3 CassetteTwo:4; do
        printf "  <Property name='%s'><Value oid='%s.%s'/></Property>\r\n" \
            "${option%:*}" "${1#.}" "${option#*:}"
    done
    printf "</QueryMap>\r\n"
}
cp "$program" "$bench/small/"
cp "$program" "$bench/large/"
map "$SMALL_BASE" >"$bench/small/VRUnPQ.xml"
map "$LARGE_BASE" >"$bench/large/VRUnPQ.xml"

demo_prefix
restart_wine
start_xvfb

now() { date +%s.%N; }
calc() { echo "$1" | bc -l; }

# exchanges BASE: the GetNext exchanges of the four walks (each sub-tree's
# objects and the one answer past its end), counted by snmpwalk.
exchanges() {
    total=0
    for s in 1 2 3 4; do
        n=$(snmpwalk -v1 -c demo -On "$AGENT" "$1.$s" | grep -c "^$1\.$s\.")
        total=$((total + n + 1))
    done
    echo $total
}

# walks BASE: seconds that four snmpwalk processes take for the sub-trees.
walks() {
    t0=$(now)
    for s in 1 2 3 4; do
        snmpwalk -v1 -c demo -On "$AGENT" "$1.$s" >/dev/null
    done
    t1=$(now)
    calc "$t1 - $t0"
}

# chain DIR PRINTER: starts the program, waits for its dialog, presses OK;
# prints the seconds from OK to the program's end, and from OK to the moment
# its dialog was seen gone (the chain and the writes done; the rest is the
# process's end), each polled for a few milliseconds at most.
chain() {
    wine "$1/VRAutoConfig.exe" "$2" </dev/null >/dev/null 2>&1 &
    wine_pid=$!
    window=$(wait_window "$DIALOG_TITLE" 600) || fail "the dialog did not appear"
    sleep 0.5
    t0=$(now)
    press_enter "$window"
    while xdotool getwindowname "$window" >/dev/null 2>&1; do :; done
    t1=$(now)
    wait "$wine_pid"
    t2=$(now)
    echo "$(calc "$t2 - $t0") $(calc "$t1 - $t0")"
}

# silent SECONDS: OK against the silent printer with this time-out; prints
# the seconds from OK to the connection error box, then closes the box.
silent() {
    wine reg add "$PRINTERS_KEY\\$SILENT_PRINTER\\PrinterDriverData" /v QV_AutoTimeOut \
        /t REG_SZ /d "$1" /f >/dev/null 2>&1
    wine "$program" "$SILENT_PRINTER" </dev/null >/dev/null 2>&1 &
    wine_pid=$!
    window=$(wait_window "$DIALOG_TITLE" 600) || fail "the dialog did not appear"
    sleep 0.5
    t0=$(now)
    press_enter "$window"
    box=
    while [ -z "$box" ]; do
        box=$(xdotool search --name '^Warning$' 2>/dev/null | head -n 1)
        [ -n "$box" ] || sleep 0.02
        kill -0 "$wine_pid" 2>/dev/null || fail "the program ended without the connection error box"
    done
    t1=$(now)
    press_enter "$box"
    wait "$wine_pid"
    calc "$t1 - $t0"
}

small_exchanges=$(exchanges "$SMALL_BASE")
large_exchanges=$(exchanges "$LARGE_BASE")
echo "Four walks on $AGENT: demonstration map $small_exchanges exchanges," \
     "large map $large_exchanges exchanges ($objects objects per sub-tree); $rounds rounds"
printf "%-6s %10s %10s %10s %10s %10s %8s %8s\n" round ok-small gone-small sw-small \
    ok-large sw-large ratio-s ratio-l
sum_ps=0 sum_gs=0 sum_ws=0 sum_pl=0 sum_wl=0
i=1
while [ $i -le "$rounds" ]; do
    set -- $(chain "$bench/small" "$PRINTER")
    ps=$1 gs=$2
    ws=$(walks "$SMALL_BASE")
    set -- $(chain "$bench/large" "$PRINTER")
    pl=$1
    wl=$(walks "$LARGE_BASE")
    printf "%-6s %10.3f %10.3f %10.3f %10.3f %10.3f %8.2f %8.2f\n" "$i" "$ps" "$gs" "$ws" \
        "$pl" "$wl" "$(calc "$ps / $ws")" "$(calc "$pl / $wl")"
    sum_ps=$(calc "$sum_ps + $ps"); sum_gs=$(calc "$sum_gs + $gs"); sum_ws=$(calc "$sum_ws + $ws")
    sum_pl=$(calc "$sum_pl + $pl"); sum_wl=$(calc "$sum_wl + $wl")
    i=$((i + 1))
done
ps=$(calc "$sum_ps / $rounds"); gs=$(calc "$sum_gs / $rounds"); ws=$(calc "$sum_ws / $rounds")
pl=$(calc "$sum_pl / $rounds"); wl=$(calc "$sum_wl / $rounds")
de=$((large_exchanges - small_exchanges))
p_x=$(calc "($pl - $ps) / $de"); w_x=$(calc "($wl - $ws) / $de")
p_w=$(calc "($ps - $small_exchanges * $p_x) / 4"); w_w=$(calc "($ws - $small_exchanges * $w_x) / 4")
ratio_s=$(calc "$ps / $ws"); ratio_l=$(calc "$pl / $wl")
printf "%-6s %10.3f %10.3f %10.3f %10.3f %10.3f %8.2f %8.2f\n" mean "$ps" "$gs" "$ws" "$pl" \
    "$wl" "$ratio_s" "$ratio_l"
echo "ok-*: seconds from OK to the program's end; gone-small: from OK to its dialog"
echo "seen gone; sw-*: four snmpwalk processes; ratio = ok / sw (aim: at most 1.30)"
printf "%-28s %12s %12s\n" "" program snmpwalk
printf "%-28s %12.2f %12.2f\n" "fixed cost per walk (ms)" "$(calc "$p_w * 1000")" "$(calc "$w_w * 1000")"
printf "%-28s %12.3f %12.3f\n" "cost per exchange (ms)" "$(calc "$p_x * 1000")" "$(calc "$w_x * 1000")"

status=0
[ "$(calc "$ratio_s <= 1.3")" -eq 1 ] || { echo "MISSED: demonstration chain ratio $ratio_s > 1.3"; status=1; }
[ "$(calc "$p_w <= $w_w")" -eq 1 ] ||
    { echo "MISSED: fixed cost per walk above one snmpwalk process's"; status=1; }

echo
echo "Silent printer on $SILENT: OK to the connection error box, (1 + $RETRIES) x time-out"
printf "%-10s %10s %10s %9s\n" time-out expected measured deviation
for timeout in 1 2; do
    expected=$(((1 + RETRIES) * timeout))
    measured=$(silent "$timeout")
    deviation=$(calc "($measured - $expected) / $expected * 100")
    printf "%-10s %10.3f %10.3f %8.1f%%\n" "$timeout s" "$expected" "$measured" "$deviation"
    [ "$(calc "$deviation <= 5 && $deviation >= -5")" -eq 1 ] ||
        { echo "MISSED: not within 5 % of $expected s"; status=1; }
done
exit $status
