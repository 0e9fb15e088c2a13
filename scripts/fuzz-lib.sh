# Shared by the native fuzzing scripts (sourced; $root is the checkout):
# skips with 77 when clang is missing, configures build-fuzz/ (every time,
# so that a tree made before a target was added learns it) and makes every
# sanitizer finding loud and final, leaks included.
build="$root/build-fuzz"

fuzz_prepare() {
    if ! command -v clang++ >/dev/null 2>&1; then
        echo "skipped: clang++ is missing (scripts/install-deps.sh installs it)" >&2
        exit 77
    fi
    cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang \
          -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug >/dev/null
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
}
