#!/usr/bin/env bash
# Takes the README's pictures of the window in its main states (no tap; not reachable;
# generation 4 up to date, edited, in German and on a dark desktop; generation 3; needing the
# update; updating; every page sent; answering as 4.0 once replugged; failed) against the
# simulated tap, on a virtual display and in a private network namespace, into docs/screenshots/.
#
#   scripts/screenshots.sh [output directory]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}

scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target kalvessa_window_screenshots kalvessa-tapsim >/dev/null

mkdir -p "$out"
export KALVESSA_TAPSIM=$PWD/build/tools/tapsim/kalvessa-tapsim
# Every tap it meets is the simulator, so the stand-in image may be flashed without asking.
export KALVESSA_SIMULATED_TAP=1
# The window's own fonts and style, whatever the caller's desktop uses.
export QT_QPA_PLATFORM=xcb QT_STYLE_OVERRIDE=Fusion LANG=C.UTF-8 LANGUAGE=
xvfb-run -a -s "-screen 0 1024x768x24" \
    tools/testbed/in-netns.sh build/tools/screenshots/kalvessa_window_screenshots "$out"
