#!/bin/sh
# Runs the built program as a user would, against a demonstration printer:
#   - net-snmp's snmpd plays the printer on 127.0.0.61:161 (demo/snmpd.conf,
#     with an SNMPv3 user), stopped by its PID when the demonstration ends or
#     is interrupted;
#   - a Wine prefix of its own, BUILD/demo-prefix, holds the printer
#     "VR Demo Printer", whose Standard TCP/IP port points at that agent
#     (demo/demo-printer.reg, answered by our stand-in port monitor), and
#     the help files in the spooler's driver directory;
#   - the program runs from BUILD/bin, beside the sample VRUnPQ.xml.
# With a display (DISPLAY set and reachable) the dialog opens there for you
# to press OK, Cancel or Help. Without one it runs on a virtual display
# (Xvfb :95), saves a picture of the filled dialog as BUILD/demo/dialog.png
# and presses OK as a user would (the Enter key in the address field).
# Either way it prints the printer's seven data values, then the tables of
# VRAutoDetect.exe --printer for the same printer over SNMPv1 (after its
# stored finisher list is changed: a dry run that says what would change, a
# --write that changes it, a second --write that finds nothing to change)
# and over SNMPv3 (authPriv), then refreshes a second queue, named in
# Japanese and Polish, with VRAutoDetect.exe --printer NAME --write and
# prints its values; the exit status is 0 when QV_AutoCfgSuccess is 01 for
# both, the --write runs and the SNMPv3 detection succeeded.
# Needs root (port 161). Uses its own prefix, display and agent address, so
# it may run while the tests run in the same build tree.
#   scripts/run-demo.sh [BUILD_DIR]
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd) || exit 1
. "$root/scripts/demo-lib.sh"

demo_check
demo_lock "$0" "$build"

demo_cleanup
trap demo_cleanup EXIT
trap 'echo "run-demo: interrupted" >&2; exit 130' INT TERM HUP

start_agent "$AGENT" "$root/demo/snmpd.conf" demo
echo "Demonstration printer: $(snmpget -v1 -c demo -Ovq "$AGENT" .1.3.6.1.2.1.1.1.0)," \
     "agent on $AGENT:161 (community \"demo\")"
demo_prefix
# No values left by an earlier run: the table below shows what this run wrote.
wine reg delete "$PRINTERS_KEY\\$PRINTER\\PrinterDriverData" /f >/dev/null 2>&1
restart_wine

screen=
if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1
    echo "The dialog opens on $DISPLAY: press OK to detect the printer's options."
    wine "$program" "$PRINTER"
else
    start_xvfb
    echo "No display: the dialog runs on Xvfb :$DEMO_DISPLAY, and OK is pressed for you."
    rm -f "$state/dialog.png"
    wine "$program" "$PRINTER" </dev/null >"$state/program.log" 2>&1 &
    wine_pid=$!
    window=$(wait_window "$DIALOG_TITLE" 600) || fail "the dialog did not appear"
    # Give it a moment to paint, then take its picture before OK.
    sleep 2
    import -window "$window" "$state/dialog.png" || fail "the picture of the dialog failed"
    screen=$state/dialog.png
    echo "Picture of the filled dialog: $screen"
    press_enter "$window"
    n=0
    while kill -0 "$wine_pid" 2>/dev/null; do
        n=$((n + 1))
        [ $n -lt 1200 ] || fail "the program did not end within 120 s after OK (a message box open?)"
        sleep 0.1
    done
    wait "$wine_pid"
    echo "The program ended with exit code $?."
fi

wine reg export "$PRINTERS_KEY\\$PRINTER\\PrinterDriverData" \
    "$(winepath -w "$state/values.reg" 2>/dev/null)" /y >/dev/null 2>&1 || rm -f "$state/values.reg"
echo
echo "Printer data values of \"$PRINTER\":"
if [ -f "$state/values.reg" ]; then
    python3 "$root/scripts/printer-values.py" "$state/values.reg"
    status=$?
else
    echo "(none written)"
    status=1
fi
echo
# As if the finisher had been fitted since the last detection: the stored
# list says there is none.
wine reg add "$PRINTERS_KEY\\$PRINTER\\PrinterDriverData" /v QV_AutoCfgFinisher /t REG_MULTI_SZ \
    /d "no finisher" /f >/dev/null 2>&1
echo "The administrator's command on the same printer, whose stored finisher list now says"
echo "\"no finisher\". Without --write it writes nothing and says what would change:"
echo "VRAutoDetect.exe --printer \"$PRINTER\""
wine "$detector" --printer "$PRINTER" </dev/null
echo "With --write it stores what differs, and reads it back:"
echo "VRAutoDetect.exe --printer \"$PRINTER\" --write"
wine "$detector" --printer "$PRINTER" --write </dev/null ||
    { echo "run-demo: the first --write failed" >&2; status=1; }
echo "Once more: nothing differs now, so nothing is written:"
echo "VRAutoDetect.exe --printer \"$PRINTER\" --write"
wine "$detector" --printer "$PRINTER" --write </dev/null ||
    { echo "run-demo: the second --write failed" >&2; status=1; }
echo
echo "The same over SNMPv3 with authentication and privacy, as the agent's user vrdemo"
echo "(the demonstration's passwords, in the environment of this command only):"
echo "VRAutoDetect.exe --printer \"$PRINTER\" --v3-user vrdemo --v3-auth SHA --v3-priv AES"
VR_SNMP_AUTH_PASSWORD=vrdemo-auth-pass VR_SNMP_PRIV_PASSWORD=vrdemo-priv-pass \
    wine "$detector" --printer "$PRINTER" --v3-user vrdemo --v3-auth SHA --v3-priv AES </dev/null ||
    { echo "run-demo: the detection over SNMPv3 failed" >&2; status=1; }
echo
echo "A queue named in Japanese and Polish, which the dialog program cannot be given on"
echo "its command line, refreshed by the console program:"
echo "VRAutoDetect.exe --printer \"$NAMED_PRINTER\" --write"
# Wine makes the program's UTF-16 command line by the Unix locale's character
# set: a UTF-8 one, whatever the caller's.
LC_ALL=C.UTF-8 wine reg delete "$PRINTERS_KEY\\$NAMED_PRINTER\\PrinterDriverData" /f >/dev/null 2>&1
LC_ALL=C.UTF-8 wine "$detector" --printer "$NAMED_PRINTER" --write </dev/null ||
    { echo "run-demo: the detection of \"$NAMED_PRINTER\" failed" >&2; status=1; }
LC_ALL=C.UTF-8 wine reg export "$PRINTERS_KEY\\$NAMED_PRINTER\\PrinterDriverData" \
    "$(winepath -w "$state/named-values.reg" 2>/dev/null)" /y >/dev/null 2>&1 || rm -f "$state/named-values.reg"
echo "Printer data values of \"$NAMED_PRINTER\":"
if [ -f "$state/named-values.reg" ]; then
    python3 "$root/scripts/printer-values.py" "$state/named-values.reg" || status=1
else
    echo "(none written)"
    status=1
fi
[ -n "$screen" ] && echo "The dialog as it was before OK: $screen"
exit $status
