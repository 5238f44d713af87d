#!/usr/bin/env bash
# Runs a command next to a simulated tap, without hardware and without touching the host's
# network: inside a private network namespace, a veth pair whose host end "kvtap0" carries a
# 00:0e:c6 address (as the tap's interface does) and the simulated tap on the far end.
#
#   tools/tapsim/with-simulated-tap.sh [--second-tap] [simulator options] -- command [args]
#
# Example: tools/tapsim/with-simulated-tap.sh --firmware-version 0 -- build/ui/kalvessa100
# --second-tap adds a second simulated tap, "kvtap1", with the same simulator options (for a
# server with several taps); its --record and --state-dir paths get the suffix ".kvtap1".
# Environment: KALVESSA_TAPSIM (simulator binary; default build/tools/tapsim/kalvessa-tapsim),
# KALVESSA_TAP_MAC (host end's address; default 00:0e:c6:12:34:56), KALVESSA_SECOND_TAP_MAC
# (the second tap's; default 00:0e:c6:12:34:57).
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
second_tap=0
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    if [ "$1" = --second-tap ]; then
        second_tap=1
    else
        sim_options+=("$1")
    fi
    shift
done
shift   # the "--"

sim=${KALVESSA_TAPSIM:-$root/build/tools/tapsim/kalvessa-tapsim}
mac=${KALVESSA_TAP_MAC:-00:0e:c6:12:34:56}
second_mac=${KALVESSA_SECOND_TAP_MAC:-00:0e:c6:12:34:57}
if [ ! -x "$sim" ]; then
    echo "$0: no simulator at $sim; build the target kalvessa-tapsim first" >&2
    exit 1
fi

ip link set lo up
for conf in all default; do
    echo 1 > /proc/sys/net/ipv6/conf/$conf/disable_ipv6 2>/dev/null || true
done
work=$(mktemp -d)
sim_pids=()
drain_pids=()
taps=()
cleanup() {
    for pid in "${sim_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for pid in "${drain_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    for tap in "${taps[@]}"; do
        ip link del "$tap" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# start_tap NAME MAC [simulator options]: the pair NAME / NAMEs and a simulator on NAMEs.
start_tap() {
    local name=$1 address=$2
    shift 2
    ip link add "$name" address "$address" type veth peer name "${name}s"
    taps+=("$name")
    ip link set "${name}s" up
    ip link set "$name" up

    # The simulator says "ready" once it captures; wait for that line, then keep its output
    # flowing to our standard error so it never blocks on a full pipe.
    mkfifo "$work/$name.out"
    "$sim" --interface "${name}s" "$@" >"$work/$name.out" &
    sim_pids+=($!)
    exec 3<"$work/$name.out"
    if ! read -r -t 10 line <&3 || [ "$line" != ready ]; then
        echo "$0: the simulated tap on $name did not start" >&2
        exit 1
    fi
    cat <&3 >&2 &
    drain_pids+=($!)
    exec 3<&-
    echo "Simulated tap on $name ($address), options: ${*:-none}" >&2
}

start_tap kvtap0 "$mac" "${sim_options[@]}"
if [ "$second_tap" -eq 1 ]; then
    # The same tap again; its record and state files must not overwrite the first tap's.
    second_options=()
    suffix_next=0
    for option in "${sim_options[@]}"; do
        if [ "$suffix_next" -eq 1 ]; then option="$option.kvtap1"; fi
        suffix_next=0
        case "$option" in --record|--state-dir) suffix_next=1 ;; esac
        second_options+=("$option")
    done
    start_tap kvtap1 "$second_mac" "${second_options[@]}"
fi

# Tells the tool that the taps it will find are these simulators, so it may flash a stand-in
# image.
KALVESSA_SIMULATED_TAP="${taps[*]}"
export KALVESSA_SIMULATED_TAP
status=0
"$@" || status=$?
exit $status
