#!/usr/bin/env bash
# The README's run command on a machine without a display, as on a capture server: it builds
# both programs with the build tool's progress shown, lists the taps with kalvessa100ctl (two
# simulated ones here), passes arguments after -- to it, and says how to start the window.
# It reuses the given build directory, so that nothing is built from scratch.
#   test_run_headless.sh <source dir> <build dir>
set -euo pipefail
src=$1
build=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

if ! unshare -rn true 2>/dev/null && ! unshare -n true 2>/dev/null; then
    [ -z "${CI:-}" ] || fail "no private network namespace for the simulated taps in CI"
    echo "SKIP: no private network namespace for the simulated taps"
    exit 77
fi

headless() {
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM KALVESSA_BUILD_DIR="$build" \
        "$src/scripts/run.sh" --simulated --sim-second-tap "$@" 2>&1
}

out=$(headless) || fail "exit status $?: $out"
if [ -f "$build/Makefile" ]; then
    grep -Eq '^\[ *[0-9]+%\] .*kalvessa100ctl' <<<"$out" || fail "no progress lines: $out"
fi
for shown in kvtap0 00:0e:c6:12:34:56 kvtap1 00:0e:c6:12:34:57 \
    'To start it under a virtual display: xvfb-run -a scripts/run.sh'; do
    grep -qF -- "$shown" <<<"$out" || fail "\"$shown\" not shown: $out"
done

# What follows -- is kalvessa100ctl's; its failure is the command's.
out=$(headless -- show -i kvtap9) && fail "a tap that is not there succeeded: $out"
out=$(headless -- list --json) || fail "exit status $?: $out"
grep -q '"kvtap1"' <<<"$out" || fail "no JSON listing: $out"
echo "headless run: ok"
