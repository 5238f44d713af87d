#!/usr/bin/env bash
# Installs what is missing, builds everything with the tests and runs the whole suite through ctest.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-sanitize/
#   scripts/test.sh --thread     the worker's and the window's tests under ThreadSanitizer, in build-tsan/
#   scripts/test.sh --configure-only [--sanitize]   configures the build for the tests and stops
# KALVESSA_BUILD_DIR names another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
sanitize=OFF
thread=OFF
configure_only=0
for arg in "$@"; do
    case "$arg" in
        --sanitize) build=build-sanitize; sanitize=ON ;;
        --thread) build=build-tsan; thread=ON ;;
        --configure-only) configure_only=1 ;;
        *) echo "usage: scripts/test.sh [--sanitize | --thread] [--configure-only]" >&2; exit 2 ;;
    esac
done
build=${KALVESSA_BUILD_DIR:-$build}

scripts/install-deps.sh
# Tests are switched on explicitly: the run command configures the same folder without them.
cmake -S . -B "$build" -DKALVESSA_BUILD_TESTS=ON -DKALVESSA_SANITIZE=$sanitize \
    -DKALVESSA_THREAD_SANITIZE=$thread
[ "$configure_only" -eq 1 ] && exit 0
selection=()
if [ "$thread" = ON ]; then
    cmake --build "$build" -j"$(nproc)" --target tests_for_threads
    selection=(-L threads)
else
    cmake --build "$build" -j"$(nproc)"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
# The tests start the simulated tap and `ip` from threaded programs; the children exec at once.
export TSAN_OPTIONS=${TSAN_OPTIONS:-die_after_fork=0:halt_on_error=1:suppressions=$PWD/tests/tsan.supp}
log=$build/ctest-output.txt
status=0
ctest --test-dir "$build" "${selection[@]}" --output-on-failure --no-tests=error -j2 2>&1 \
    | tee "$log" || status=$?
scripts/test-summary.sh "$log"
exit "$status"
