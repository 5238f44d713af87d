#!/usr/bin/env bash
# Runs a test program inside a private network namespace of its own, where it may create veth
# pairs and a simulated tap without touching the host's interfaces, and a private mount
# namespace, where it may mount a file system that the host does not see.
#   in-netns.sh <test binary> [args]
# Root gets plain namespaces (unshare -nm); anyone else a user namespace with them
# (unshare -rnm). Where neither can be made the test runs directly, without KALVESSA_NETNS, and
# its namespace tests skip with the reason (or fail when CI is set).
set -u

if [ "${KALVESSA_NETNS:-}" = 1 ] && [ "${KALVESSA_NETNS_INSIDE:-}" = $$ ]; then
    ip link set lo up 2>/dev/null
    # No router solicitations or other IPv6 chatter on the veth pairs the tests create.
    for conf in all default; do
        echo 1 > /proc/sys/net/ipv6/conf/$conf/disable_ipv6 2>/dev/null || true
    done
    unset KALVESSA_NETNS_INSIDE
    # The test bed creates interfaces only while it is still in this very namespace.
    KALVESSA_NETNS_ID=$(readlink /proc/self/ns/net)
    export KALVESSA_NETNS_ID
    exec "$@"
fi

if [ $# -eq 0 ]; then
    echo "usage: $0 <test binary> [args]" >&2
    exit 2
fi

if [ "$(id -u)" -eq 0 ]; then
    attempts=("-nm" "-rnm")
else
    attempts=("-rnm")
fi
why=""
for flags in "${attempts[@]}"; do
    if out=$(unshare "$flags" true 2>&1); then
        # The inner shell recognises itself by its own pid, so a stray KALVESSA_NETNS in the
        # caller's environment cannot make a test believe it is isolated.
        exec unshare "$flags" bash -c 'export KALVESSA_NETNS=1 KALVESSA_NETNS_INSIDE=$$; exec "$0" "$@"' \
            "$0" "$@"
    fi
    why="${why:+$why; }unshare $flags: ${out:-failed}"
done

unset KALVESSA_NETNS KALVESSA_NETNS_ID
export KALVESSA_NETNS_WHY="no private network namespace ($why)"
exec "$@"
