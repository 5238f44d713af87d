#!/usr/bin/env bash
# Builds and runs the window benchmark inside a private network namespace, offscreen.
#   bench/ui-bench.sh [build-dir] [-- benchmark options]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ $# -gt 0 ] && shift
[ "${1:-}" = "--" ] && shift
cmake --build "$build" -j2 --target ui_bench kalvessa-tapsim
QT_QPA_PLATFORM=offscreen exec tools/testbed/in-netns.sh "$build/bench/ui_bench" "$@"
