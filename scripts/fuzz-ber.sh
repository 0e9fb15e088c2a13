#!/bin/sh
# Builds the native BER fuzzing project (tests/fuzz, with clang, under
# AddressSanitizer and UndefinedBehaviorSanitizer) in build-fuzz/ and then:
#   fuzz-ber.sh [SECONDS [LIBFUZZER-FLAG...]]
#                           runs the decoder's fuzzer that long (default 600)
#                           on a fresh copy of tests/fuzz/corpus, e.g.
#                           fuzz-ber.sh 600 -print_coverage=1
#   fuzz-ber.sh unit        runs the codec's unit tests
#   fuzz-ber.sh v3 [SECONDS [LIBFUZZER-FLAG...]]
#                           the same for the SNMPv3 decoder (fuzz_v3) on a
#                           fresh copy of tests/fuzz/corpus-v3
# Exits non-zero on a build failure, a crash, a leak or a failed test, and
# with 77 (a skip for CTest) when clang is not installed.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/fuzz-lib.sh"
target=fuzz_ber
corpus=corpus
if [ "${1:-}" = v3 ]; then
    target=fuzz_v3
    corpus=corpus-v3
    shift
fi
mode=${1:-600}
[ $# -gt 0 ] && shift

case "$mode" in
unit) ;;
*[!0-9]* | "")
    echo "usage: $0 [v3] [SECONDS|unit]" >&2
    exit 2 ;;
esac

fuzz_prepare

if [ "$mode" = unit ]; then
    cmake --build "$build" --target test_ber -j2
    exec "$build/test_ber"
fi

cmake --build "$build" --target "$target" -j2
work="$build/$corpus-run"
artifacts="$build/artifacts"
rm -rf "$work"
mkdir -p "$work" "$artifacts"
cp "$root/tests/fuzz/$corpus"/* "$work"/
# -max_len covers the largest captured reply (1.2 KB) with room to grow; a crash,
# leak or time-out leaves its input in build-fuzz/artifacts/.
exec "$build/$target" -max_total_time="$mode" -max_len=4096 -timeout=10 \
     -rss_limit_mb=2048 -detect_leaks=1 -print_final_stats=1 \
     -artifact_prefix="$artifacts/" "$@" "$work"
