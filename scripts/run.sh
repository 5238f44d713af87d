#!/usr/bin/env bash
# Installs what is missing, builds the tool and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DKALVESSA_BUILD_TESTS=OFF -DKALVESSA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kalvessa100

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "There is no display to show the window on; run it under a virtual one, for example: xvfb-run -a scripts/run.sh"
    exit 1
fi
exec build/ui/kalvessa100 "$@"
