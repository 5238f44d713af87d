#!/usr/bin/env bash
# Builds every benchmark and runs each inside its own private network namespace next to a
# simulated tap, printing the figures. Not part of the test suite.
#   bench/run-all.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j2 --target benchmarks kalvessa-tapsim
export KALVESSA_TAPSIM=$PWD/$build/tools/tapsim/kalvessa-tapsim
for b in bench_device_exchange bench_device_settings bench_firmware_update bench_firmware_memory; do
    echo "== $b"
    tools/testbed/in-netns.sh "$build/bench/$b"
done
echo "== bench_tapsim_roundtrip"
tools/tapsim/with-simulated-tap.sh -- "$build/bench/bench_tapsim_roundtrip" kvtap0 2000
echo "== detection_bench"
tools/testbed/in-netns.sh "$build/bench/detection_bench" --rounds 5 --idle-seconds 30
