#!/usr/bin/env bash
# Installs what is missing, builds both programs and runs one: on the Kalvessa 100 when one
# is attached, otherwise against a simulated tap in a private network namespace, so that the
# whole tool can be tried without hardware. With a display it starts the window; without one
# (a capture server) it runs kalvessa100ctl, `list` unless arguments say otherwise.
#
#   scripts/run.sh [options] [-- arguments for the window, or for kalvessa100ctl]
#
#   --simulated            use the simulated tap even when a real one is attached
#   --sim-generation 3|4   firmware generation of the simulated tap (default 4)
#   --sim-needs-update     the simulated tap runs old firmware, so the update is offered
#                          (a generation-3 tap always offers it)
#   --sim-second-tap       a second simulated tap, kvtap1, as on a machine with several
#
# KALVESSA_BUILD_DIR names another build directory (default build).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    sed -n '2,15s/^# \{0,1\}//p' "$0"
}

generation=4
needs_update=0
simulated=0
second_tap=0
tool_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --sim-generation)
            [ $# -ge 2 ] || { echo "--sim-generation needs 3 or 4" >&2; exit 2; }
            generation=$2
            shift 2 ;;
        --sim-generation=*) generation=${1#*=}; shift ;;
        --sim-needs-update) needs_update=1; shift ;;
        --sim-second-tap) second_tap=1; shift ;;
        --simulated) simulated=1; shift ;;
        -h|--help) usage; exit 0 ;;
        --) shift; tool_args=("$@"); break ;;
        *) echo "Unknown option $1 (see scripts/run.sh --help)" >&2; exit 2 ;;
    esac
done
case "$generation" in
    3|4) ;;
    *) echo "--sim-generation takes 3 or 4, not $generation" >&2; exit 2 ;;
esac

# Without a display (and no platform chosen, such as offscreen) the window cannot be shown;
# the command-line tool serves instead.
headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    headless=1
fi

scripts/install-deps.sh
build=${KALVESSA_BUILD_DIR:-build}
# A first build leaves the tests out; a build directory that has them (scripts/test.sh made
# it) keeps them, so that the two commands can share it.
configure=(-S . -B "$build")
if [ ! -f "$build/CMakeCache.txt" ]; then
    configure+=(-DKALVESSA_BUILD_TESTS=OFF -DKALVESSA_BUILD_BENCHMARKS=OFF)
fi
echo "Configuring the build in $build ..."
cmake "${configure[@]}" >/dev/null
# The build tool's own line per step: a first build takes minutes.
echo "Building kalvessa100, kalvessa100ctl, the capture helper and the simulated tap ..."
cmake --build "$build" -j"$(nproc)" --target kalvessa100 kalvessa100ctl kalvessa100-link kalvessa-tapsim
if [ "$headless" -eq 1 ]; then
    tool=$build/cli/kalvessa100ctl
    [ ${#tool_args[@]} -gt 0 ] || tool_args=(list)
else
    tool=$build/ui/kalvessa100
fi

# Said last, where it is seen after the tool's own output.
window_hint() {
    [ "$headless" -eq 1 ] || return 0
    echo "There is no display here, so the window was not started. To start it under a virtual display: xvfb-run -a scripts/run.sh"
}

# The tap's interface carries the maker's prefix in its hardware address.
tap=""
for address in /sys/class/net/*/address; do
    [ -r "$address" ] || continue
    case "$(tr 'A-F' 'a-f' <"$address")" in
        00:0e:c6:*) tap=$(basename "$(dirname "$address")"); break ;;
    esac
done

if [ -n "$tap" ] && [ "$simulated" -eq 0 ]; then
    echo "Kalvessa 100 attached as $tap."
    helper=build/linkhelper/kalvessa100-link
    if [ "$(id -u)" -ne 0 ] && ! getcap "$helper" 2>/dev/null | grep -q cap_net_raw; then
        echo "The tool may not capture on $tap yet. Grant its capture helper the privilege (see \"Capture privilege\" in the README):"
        echo "    sudo setcap cap_net_raw=eip $helper"
    fi
    status=0
    "$tool" "${tool_args[@]}" || status=$?
    window_hint
    exit $status
fi

sim=(--generation "$generation")
if [ "$generation" -eq 4 ] && [ "$needs_update" -eq 1 ]; then
    # Old firmware reports no version; after the update the tap reports 4.0 once it is reset.
    sim+=(--firmware-version 0 --reset-after-update)
fi
which="a simulated generation-$generation tap"
if [ "$second_tap" -eq 1 ]; then
    sim=(--second-tap "${sim[@]}")
    which="two simulated generation-$generation taps"
fi
if [ -n "$tap" ]; then
    echo "Using $which as asked; the Kalvessa 100 on $tap is left alone."
else
    echo "No Kalvessa 100 attached: running $(basename "$tool") against $which."
fi
KALVESSA_TAPSIM=$(cd "$build" && pwd)/tools/tapsim/kalvessa-tapsim
export KALVESSA_TAPSIM
status=0
tools/tapsim/with-simulated-tap.sh "${sim[@]}" -- "$tool" "${tool_args[@]}" || status=$?
window_hint
exit $status
