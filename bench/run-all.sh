#!/usr/bin/env bash
# Builds the benchmarks and runs them, each inside its own private network namespace next to
# a simulated tap, printing the figures. Not part of the test suite.
#   bench/run-all.sh [build-dir] [benchmark ...]     (default: all of them)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ $# -gt 0 ] && shift
all=(bench_device_exchange bench_device_settings bench_firmware_update bench_firmware_memory
     bench_tapsim_roundtrip bench_hostile bench_detection bench_ui bench_preview
     bench_idle_capture bench_extcap bench_update_faults)
[ $# -gt 0 ] && all=("$@")

cmake --build "$build" -j2 --target benchmarks kalvessa-tapsim
export KALVESSA_TAPSIM=$PWD/$build/tools/tapsim/kalvessa-tapsim
for b in "${all[@]}"; do
    echo "== $b"
    case $b in
        bench_tapsim_roundtrip)
            tools/tapsim/with-simulated-tap.sh -- "$build/bench/$b" kvtap0 2000 ;;
        bench_detection)
            tools/testbed/in-netns.sh "$build/bench/$b" --rounds 20 --idle-seconds 30 ;;
        bench_ui)
            QT_QPA_PLATFORM=offscreen tools/testbed/in-netns.sh "$build/bench/$b" ;;
        bench_update_faults)
            # In-process taps: no namespace needed.
            "$build/bench/$b" ;;
        bench_extcap)
            # No tshark, no figures: it says so.
            tools/testbed/in-netns.sh "$build/bench/$b" --rounds 3 --seconds 3 ;;
        bench_preview)
            # No tap: a generated 1 GB capture file, against tcpdump where it is installed.
            command -v tcpdump >/dev/null \
                || echo "tcpdump is missing (apt-get install tcpdump): preview is measured alone"
            "$build/bench/$b" ;;
        *)
            tools/testbed/in-netns.sh "$build/bench/$b" ;;
    esac
done
