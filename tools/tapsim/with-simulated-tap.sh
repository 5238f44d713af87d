#!/usr/bin/env bash
# Runs a command next to a simulated tap, without hardware and without touching the host's
# network: inside a private network namespace, a veth pair whose host end "kvtap0" carries a
# 00:0e:c6 address (as the tap's interface does) and the simulated tap on the far end.
#
#   tools/tapsim/with-simulated-tap.sh [simulator options] -- command [args]
#
# Example: tools/tapsim/with-simulated-tap.sh --firmware-version 0 -- build/ui/kalvessa100
# Environment: KALVESSA_TAPSIM (simulator binary; default build/tools/tapsim/kalvessa-tapsim),
# KALVESSA_TAP_MAC (host end's address; default 00:0e:c6:12:34:56).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ "${KALVESSA_SIMTAP_INSIDE:-}" != "$$" ]; then
    if ! printf '%s\n' "$@" | grep -qx -- '--'; then
        echo "usage: $0 [simulator options] -- command [args]" >&2
        exit 2
    fi
    if [ "$(id -u)" -eq 0 ]; then attempts=("-n" "-rn"); else attempts=("-rn"); fi
    for flags in "${attempts[@]}"; do
        if unshare "$flags" true 2>/dev/null; then
            exec unshare "$flags" bash -c 'export KALVESSA_SIMTAP_INSIDE=$$ KALVESSA_NETNS=1; exec "$0" "$@"' \
                "$0" "$@"
        fi
    done
    echo "$0: cannot make a private network namespace (unshare ${attempts[*]} failed)" >&2
    exit 1
fi
unset KALVESSA_SIMTAP_INSIDE
KALVESSA_NETNS_ID=$(readlink /proc/self/ns/net)
export KALVESSA_NETNS_ID

sim_options=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    sim_options+=("$1")
    shift
done
shift   # the "--"

sim=${KALVESSA_TAPSIM:-$root/build/tools/tapsim/kalvessa-tapsim}
mac=${KALVESSA_TAP_MAC:-00:0e:c6:12:34:56}
if [ ! -x "$sim" ]; then
    echo "$0: no simulator at $sim; build the target kalvessa-tapsim first" >&2
    exit 1
fi

ip link set lo up
for conf in all default; do
    echo 1 > /proc/sys/net/ipv6/conf/$conf/disable_ipv6 2>/dev/null || true
done
ip link add kvtap0 address "$mac" type veth peer name kvtap0s
ip link set kvtap0s up
ip link set kvtap0 up

work=$(mktemp -d)
sim_pid=""
drain_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    if [ -n "$drain_pid" ]; then
        wait "$drain_pid" 2>/dev/null || true
    fi
    ip link del kvtap0 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The simulator says "ready" once it captures; wait for that line, then keep its output
# flowing to our standard error so it never blocks on a full pipe.
mkfifo "$work/out"
"$sim" --interface kvtap0s "${sim_options[@]}" >"$work/out" &
sim_pid=$!
exec 3<"$work/out"
if ! read -r -t 10 line <&3 || [ "$line" != ready ]; then
    echo "$0: the simulated tap did not start" >&2
    exit 1
fi
cat <&3 >&2 &
drain_pid=$!
exec 3<&-

echo "Simulated tap on kvtap0 ($mac), options: ${sim_options[*]:-none}" >&2
# Tells the tool that the tap it will find is this simulator, so it may flash a stand-in image.
export KALVESSA_SIMULATED_TAP=kvtap0
status=0
"$@" || status=$?
exit $status
