#!/bin/sh
# Builds the Linux locales that the language tests start Wine in, into DIR,
# for use through LOCPATH: Wine takes its user-interface language from the
# locale in LANG, but only when the C library can load that locale, and a
# fresh machine has none but C. Locales already built are kept.
# Usage: make-locales.sh DIR LOCALE...   (LOCALE as de_DE; built as UTF-8)
set -eu
dir=$1
shift
mkdir -p "$dir"
# One builder at a time in a build tree.
exec 9>"$dir.lock"
flock -x 9
if ! command -v localedef >/dev/null 2>&1 || [ ! -d /usr/share/i18n/locales ]; then
    echo "No localedef or locale sources (Debian package 'locales'):" \
         "the language tests will be skipped." >&2
    exit 0
fi
for locale in "$@"; do
    target="$dir/$locale.UTF-8"
    [ -f "$target/LC_CTYPE" ] && continue
    # Built aside and moved into place, so a half-built locale is never used.
    rm -rf "$target.part"
    localedef -i "$locale" -f UTF-8 "$target.part"
    mv "$target.part" "$target"
done
echo "Locales ready in $dir: $*"
