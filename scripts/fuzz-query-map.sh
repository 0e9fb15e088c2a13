#!/bin/sh
# Builds the native fuzzing project (tests/fuzz, with clang, under
# AddressSanitizer and UndefinedBehaviorSanitizer) in build-fuzz/ and fuzzes
# the query map's loader and lookup:
#   fuzz-query-map.sh [SECONDS [LIBFUZZER-FLAG...]]   (default 600)
# First, once each, the files that mutating small seeds never makes: maps of
# 10 MB (filler before the entries; a value whose quote never closes). Then
# the fuzzer runs that long on a fresh copy of tests/fuzz/query-map-corpus,
# the sample map, and the sample map as an editor may save it (UTF-16 either
# way round with a byte-order mark, UTF-8 with one, NULs for line ends).
# Exits non-zero on a build failure, a crash, a leak or a read past the map,
# and with 77 (a skip for CTest) when clang is missing.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/fuzz-lib.sh"
seconds=${1:-600}
[ $# -gt 0 ] && shift
case "$seconds" in
*[!0-9]* | "")
    echo "usage: $0 [SECONDS [LIBFUZZER-FLAG...]]" >&2
    exit 2 ;;
esac

fuzz_prepare
cmake --build "$build" --target fuzz_query_map -j2

map="$root/demo/VRUnPQ.xml"
work="$build/query-map-run"
large="$build/query-map-large"
artifacts="$build/artifacts"
rm -rf "$work" "$large"
mkdir -p "$work" "$large" "$artifacts"
cp "$root"/tests/fuzz/query-map-corpus/* "$map" "$work"/
{ printf '\377\376'; iconv -f ISO-8859-1 -t UTF-16LE "$map"; } >"$work/utf16le-bom.xml"
{ printf '\376\377'; iconv -f ISO-8859-1 -t UTF-16BE "$map"; } >"$work/utf16be-bom.xml"
{ printf '\357\273\277'; cat "$map"; } >"$work/utf8-bom.xml"
tr '\n' '\000' <"$map" >"$work/nuls.xml"
{ head -c 10485760 /dev/zero | tr '\000' ' '; cat "$map"; } >"$large/filler-then-map.xml"
{ printf "<Property name='HardDisk'><Value oid='"; head -c 10485760 /dev/zero | tr '\000' 1
  printf "'/></Property>"; } >"$large/unclosed-value.xml"
"$build/fuzz_query_map" -artifact_prefix="$artifacts/" "$large"/*

# -max_len: the sample map (1.1 KB) with room to grow; a crash, leak or
# time-out leaves its input in build-fuzz/artifacts/.
exec "$build/fuzz_query_map" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
     -rss_limit_mb=2048 -detect_leaks=1 -print_final_stats=1 \
     -artifact_prefix="$artifacts/" "$@" "$work"
