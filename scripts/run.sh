#!/usr/bin/env bash
# Installs what is missing, builds the tool and runs it: on the Kalvessa 100 when one is
# attached, otherwise against a simulated tap in a private network namespace, so that the
# whole tool can be tried without hardware.
#
#   scripts/run.sh [options] [-- arguments for the tool]
#
#   --simulated            use the simulated tap even when a real one is attached
#   --sim-generation 3|4   firmware generation of the simulated tap (default 4)
#   --sim-needs-update     the simulated tap runs old firmware, so the update is offered
#                          (a generation-3 tap always offers it)
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    sed -n '2,13s/^# \{0,1\}//p' "$0"
}

generation=4
needs_update=0
simulated=0
tool_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --sim-generation)
            [ $# -ge 2 ] || { echo "--sim-generation needs 3 or 4" >&2; exit 2; }
            generation=$2
            shift 2 ;;
        --sim-generation=*) generation=${1#*=}; shift ;;
        --sim-needs-update) needs_update=1; shift ;;
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

# Without a display the toolkit would abort with a page of plugin names; say it plainly.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "There is no display to show the window on; run it under a virtual one, for example: xvfb-run -a scripts/run.sh"
    exit 1
fi

scripts/install-deps.sh
cmake -S . -B build -DKALVESSA_BUILD_TESTS=OFF -DKALVESSA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kalvessa100 kalvessa100-link kalvessa-tapsim >/dev/null
tool=build/ui/kalvessa100

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
    exec "$tool" "${tool_args[@]}"
fi

sim=(--generation "$generation")
if [ "$generation" -eq 4 ] && [ "$needs_update" -eq 1 ]; then
    # Old firmware reports no version; after the update the tap reports 4.0 once it is reset.
    sim+=(--firmware-version 0 --reset-after-update)
fi
if [ -n "$tap" ]; then
    echo "Using a simulated tap as asked; the Kalvessa 100 on $tap is left alone."
else
    echo "No Kalvessa 100 attached: running the tool against a simulated generation-$generation tap."
fi
export KALVESSA_TAPSIM=$PWD/build/tools/tapsim/kalvessa-tapsim
exec tools/tapsim/with-simulated-tap.sh "${sim[@]}" -- "$tool" "${tool_args[@]}"
