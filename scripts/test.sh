#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite through ctest.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then
    build=build-sanitize
    sanitize=ON
fi

scripts/install-deps.sh
cmake -S . -B "$build" -DKALVESSA_SANITIZE=$sanitize
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
ctest --test-dir "$build" --output-on-failure -j2
