#!/bin/sh
# Takes a picture of dialog 103 as the template alone draws it (placeholder
# texts, the group box, the logo; no dialog procedure filling anything in):
# runs tests/bin/show_template.exe under Xvfb, in a Wine prefix of its own
# with a real display driver (the tests' prefix is headless), and saves the
# dialog's window as a PNG.
# Usage: scripts/screenshot-dialog.sh [BUILD_DIR] [OUTPUT.png]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$root/docs/screenshots/dialog-103-template.png}
case $out in /*) ;; *) out=$(pwd)/$out ;; esac

cmake --build "$build" --target show_template >/dev/null
exe=$build/tests/bin/show_template.exe

WINEPREFIX=$build/wineprefix-screenshot
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
if [ ! -d "$WINEPREFIX" ]; then
    wineboot -i >/dev/null 2>&1
    # There is no window manager on the virtual display: let Wine draw the
    # frame and caption itself, so that they are in the picture.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
fi
mkdir -p "$(dirname "$out")"

# Inside the virtual display: start the dialog, wait for its window (its
# title is the template's placeholder "[103]"), give it a moment to paint,
# capture it, then end this prefix's processes.
xvfb-run -a -s "-screen 0 800x600x24" sh -c '
    exe=$1 out=$2
    wine "$exe" >/dev/null 2>&1 &
    window=
    for i in $(seq 120); do
        window=$(xdotool search --name "^\[103\]$" 2>/dev/null | head -n 1) || true
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
' screenshot "$exe" "$out"
echo "Saved $out"
