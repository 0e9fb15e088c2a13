#!/bin/sh
# Puts Wine's "Marlett" font into a prefix's Fonts folder. Wine draws a
# title bar's buttons as letters of that symbol font ("r" is the close
# button's cross, "0" and "1" minimise and maximise); when the font is not
# found, the letters themselves appear. Debian's Wine looks for its own
# fonts under a path that does not resolve (WINEDEBUG=+file shows it
# opening "usr\share\wine\../fonts\"), so the fonts that the package
# fonts-wine installs in /usr/share/wine/fonts are never loaded. Every font
# in the prefix's windows\Fonts is.
# Usage: caption-font.sh PREFIX
set -eu
fonts=$1/drive_c/windows/Fonts
for dir in /usr/share/wine/fonts /usr/local/share/wine/fonts; do
    if [ -f "$dir/marlett.ttf" ]; then
        mkdir -p "$fonts"
        cp "$dir/marlett.ttf" "$fonts/"
        exit 0
    fi
done
echo "$(basename "$0"): Wine's marlett.ttf was not found (package fonts-wine, scripts/install-deps.sh)" >&2
exit 1
