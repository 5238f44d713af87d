#!/usr/bin/env bash
# Builds and runs the detection benchmark inside a private network namespace.
#   bench/detection-bench.sh [build-dir] [-- benchmark options]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ $# -gt 0 ] && shift
[ "${1:-}" = "--" ] && shift
cmake --build "$build" -j2 --target detection_bench kalvessa-tapsim
exec tools/testbed/in-netns.sh "$build/bench/detection_bench" "$@"
