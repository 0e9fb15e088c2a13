#!/bin/sh
# Takes a picture of the program's dialog as a user sees it: the real
# VRAutoConfig.exe started for the test printer "VRTest E2E Port", whose port
# our stand-in Standard TCP/IP Port monitor answers (address 127.0.0.55,
# community "vrtest"), with the texts of the user's language (LANG, English
# when unset) and the logo drawn. It runs under Xvfb on display :94, in a
# Wine prefix of its own with a real display driver, made like the tests'
# display prefix (tests/prefix/make-prefix.sh: printers, ports, monitor),
# and saves the dialog's window as a PNG. Nothing is pressed: the program is
# ended with the prefix's processes, so no printer data is written.
# Usage: scripts/screenshot-dialog.sh [BUILD_DIR] [OUTPUT.png]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/docs/screenshots/dialog.png}
case $out in /*) ;; *) out=$(pwd)/$out ;; esac
SCREEN_DISPLAY=94
PRINTER="VRTest E2E Port"

cmake --build "$build" --target VRAutoConfig vrtcpmon >/dev/null
exe=$build/bin/VRAutoConfig.exe
monitor=$build/bin/vrtcpmon.dll

WINEPREFIX=$build/wineprefix-screenshot
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
LANG=${LANG:-en_US.UTF-8}
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES LANG
# A prefix of an older version of this script lacks the test printers or
# the title bar's symbol font.
if ! grep -q 'VRTest E2E Port' "$WINEPREFIX/system.reg" 2>/dev/null ||
    [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    sh "$root/tests/prefix/make-prefix.sh" "$WINEPREFIX" display "$monitor" >/dev/null
    # There is no window manager on the virtual display: let Wine draw the
    # frame and caption itself, so that they are in the picture.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # The prefix script keeps its server waiting; start afresh on the display.
    wineserver -k 2>/dev/null || true
fi
mkdir -p "$(dirname "$out")"

# Inside the virtual display: start the program for the printer, wait for
# the dialog (the only window whose title starts with "VR"), give it a
# moment to paint, capture it, then end this prefix's processes.
xvfb-run -n "$SCREEN_DISPLAY" -s "-screen 0 800x600x24" sh -c '
    exe=$1 out=$2 printer=$3
    wine "$exe" "$printer" >/dev/null 2>&1 &
    window=
    for i in $(seq 120); do
        window=$(xdotool search --name "^VR" 2>/dev/null | head -n 1) || true
        [ -n "$window" ] && break
        sleep 0.5
    done
    status=0
    if [ -n "$window" ]; then
        sleep 2
        import -window "$window" "$out" || status=1
    else
        echo "the dialog did not appear" >&2
        status=1
    fi
    wineserver -k 2>/dev/null || true
    wait || true
    exit $status
' screenshot "$exe" "$out" "$PRINTER"
echo "Saved $out"
