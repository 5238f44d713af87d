#!/usr/bin/env bash
# Runs a test program inside a private mount namespace of its own, where it may mount a small
# file system without the host seeing it.
#   in-mountns.sh <test binary> [args]
# Root gets a plain mount namespace (unshare -m); anyone else a user namespace with one
# (unshare -rm). Where neither can be made the test runs directly, with the reason in
# KALVESSA_MOUNTNS_WHY, and skips (or fails when CI is set).
set -u

if [ "${KALVESSA_MOUNTNS:-}" = 1 ] && [ "${KALVESSA_MOUNTNS_INSIDE:-}" = $$ ]; then
    unset KALVESSA_MOUNTNS_INSIDE
    exec "$@"
fi

if [ $# -eq 0 ]; then
    echo "usage: $0 <test binary> [args]" >&2
    exit 2
fi

attempts=("-rm")
[ "$(id -u)" -ne 0 ] || attempts=("-m" "-rm")
why=""
for flags in "${attempts[@]}"; do
    if out=$(unshare "$flags" true 2>&1); then
        # The inner shell knows itself by its pid, so a stray KALVESSA_MOUNTNS in the caller's
        # environment cannot make a test believe it is isolated.
        exec unshare "$flags" bash -c 'export KALVESSA_MOUNTNS=1 KALVESSA_MOUNTNS_INSIDE=$$; exec "$0" "$@"' \
            "$0" "$@"
    fi
    why="${why:+$why; }unshare $flags: ${out:-failed}"
done

unset KALVESSA_MOUNTNS
export KALVESSA_MOUNTNS_WHY="$why"
exec "$@"
