#!/usr/bin/env bash
# CI's packaging step: makes the Debian package with scripts/package.sh, has lintian judge it,
# installs it on this machine, checks what it installed and the capture privilege it granted (to
# the capture helper alone), then purges it and checks that it is gone. Installs and removes a package system-wide, so it
# needs root (or sudo); it ends on a line "packaging: N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install the package" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive

passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...: runs the command, counts and reports the outcome
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok: $what"
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
    fi
}

scripts/package.sh
debs=(kalvessa100_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one package, found: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
echo "== $deb, $(stat -c %s "$deb") bytes"
version=$(dpkg-deb -f "$deb" Version)
project_version=$(sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

echo "== lintian"
check "lintian finds no error" lintian --fail-on error "$deb"

has_ctl=0
contents=$(dpkg-deb -c "$deb")
if grep -q ' \./usr/bin/kalvessa100ctl$' <<<"$contents"; then
    has_ctl=1
fi
group_before=0
if getent group kalvessa >/dev/null; then
    group_before=1
fi

echo "== install"
# Its dependencies come from the archive; an old package list gets one refresh.
$sudo apt-get install -y -q "./$deb" || { $sudo apt-get update -q && $sudo apt-get install -y -q "./$deb"; }
check "installed as version $version" \
    test "$(dpkg-query -W -f='${Status} ${Version}' kalvessa100)" = "install ok installed $version"

# Only the capture helper carries a capability, and only CAP_NET_RAW: the Qt programs load
# plugins that a user's environment names, and would lend them the privilege.
helper=/usr/libexec/kalvessa100/kalvessa100-link
check "$helper carries cap_net_raw=eip" bash -c "getcap '$helper' | grep -q ' cap_net_raw=eip$'"
check "$helper is root:kalvessa 0754" test "$(stat -c '%U:%G %a' "$helper")" = "root:kalvessa 754"
listed=$(getcap -r /usr/bin /usr/libexec/kalvessa100 2>/dev/null | grep -i kalvessa || true)
check "getcap lists only the helper among the package's programs (got: $listed)" \
    test "$listed" = "$helper cap_net_raw=eip"
check "the helper links no Qt" bash -c "! ldd '$helper' | grep -qi libQt"

# No display at all: --version must not need one. Then as an unprivileged user: anyone may run
# the programs, only the group's members the helper.
clean_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
out=$("${clean_env[@]}" kalvessa100 --version)
echo "$out"
check "kalvessa100 --version says kalvessa100 $project_version without a display" \
    test "$(head -n 1 <<<"$out")" = "kalvessa100 $project_version"
gid=$(getent group kalvessa | cut -d: -f3)
check "a user outside the group may run the window" \
    $sudo setpriv --reuid=65534 --regid=65534 --clear-groups "${clean_env[@]}" kalvessa100 --version
# Some kernels (seen in virtual machines) let anyone execute a file whose mode denies it; the
# helper's mode is checked above, and its effect only where the kernel enforces modes.
probe=$(mktemp -d)
cp /bin/true "$probe/true" && chmod 0750 "$probe/true" && chmod 0755 "$probe"
enforced=0
$sudo setpriv --reuid=65534 --regid=65534 --clear-groups "$probe/true" 2>/dev/null || enforced=$?
rm -rf "$probe"
if [ "$enforced" -eq 126 ]; then
    check "a user outside the group may not run the helper" \
        bash -c "$sudo setpriv --reuid=65534 --regid=65534 --clear-groups $helper lo </dev/null >/dev/null 2>&1; test \$? -eq 126"
else
    echo "skipped: a user outside the group may not run the helper (this kernel lets anyone execute a file whose mode denies it)"
fi
check "a member of the group may run the helper (which refuses lo: not a tap)" \
    bash -c "$sudo setpriv --reuid=65534 --regid=$gid --clear-groups $helper lo </dev/null >/dev/null 2>&1; test \$? -eq 2"
if [ "$has_ctl" -eq 1 ]; then
    # This machine has no tap attached.
    set +e
    $sudo setpriv --reuid=65534 --regid="$gid" --clear-groups "${clean_env[@]}" kalvessa100ctl list
    code=$?
    set -e
    check "a member's kalvessa100ctl list ends with 3 when no tap is attached (got $code)" \
        test "$code" -eq 3
    completion=/usr/share/bash-completion/completions/kalvessa100ctl
    check "bash completion for kalvessa100ctl is installed where bash-completion looks" \
        bash -n "$completion"
fi

# The lock folder: made at once, and only its group may make lock files in it.
locks=/run/kalvessa100
check "$locks is root:kalvessa 2770" test "$(stat -c '%U:%G %a' "$locks" 2>&1)" = "root:kalvessa 2770"
check "a member of the group may make a lock file there" \
    $sudo setpriv --reuid=65534 --regid="$gid" --clear-groups touch "$locks/member-check"
check "a user outside the group may not" \
    bash -c "! $sudo setpriv --reuid=65534 --regid=65534 --clear-groups touch '$locks/outsider-check' 2>/dev/null"
$sudo rm -f "$locks/member-check" "$locks/outsider-check"

check "desktop entry is valid" desktop-file-validate /usr/share/applications/org.kalvessa.Kalvessa100.desktop
check "AppStream metainfo is valid" \
    appstreamcli validate --no-net /usr/share/metainfo/org.kalvessa.Kalvessa100.metainfo.xml
unit=/usr/lib/systemd/system/kalvessa100-apply@.service
check "the apply unit is installed and runs the installed tool" \
    grep -qx 'ExecStart=/usr/bin/kalvessa100ctl apply --tap %i --from-dir /etc/kalvessa100/taps.d' "$unit"
check "the udev rule that starts it is installed" test -s /usr/lib/udev/rules.d/85-kalvessa100-apply.rules
check "the declared folder is there and empty" test -z "$(ls -A /etc/kalvessa100/taps.d)"
if command -v systemd-analyze >/dev/null; then
    check "systemd-analyze verify passes the unit" systemd-analyze verify "${unit%@.service}@kvtap0.service"
fi
check "manual page kalvessa100(1) is installed" test -s /usr/share/man/man1/kalvessa100.1.gz
# Wireshark's own folders, under Debian's multiarch library path, where its tshark and dumpcap
# look: the extcap (without any capability: it captures through the helper) and the dissector.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
extcap=/usr/lib/$multiarch/wireshark/extcap/kalvessa100-extcap
dissector=/usr/lib/$multiarch/wireshark/plugins/kalvessa100.lua
check "the extcap is installed in Wireshark's extcap folder" test -x "$extcap"
check "the extcap carries no capability" test -z "$(getcap "$extcap")"
check "the dissector is installed in Wireshark's plugin folder" grep -q 'Proto("kalvessa100"' "$dissector"
check "the extcap names its version $project_version to a member" \
    bash -c "$sudo setpriv --reuid=65534 --regid=$gid --clear-groups ${clean_env[*]} $extcap \
        --extcap-interfaces 2>/dev/null | grep -q '^extcap {version=$project_version}'"

echo "== purge"
$sudo apt-get purge -y -q kalvessa100
check "package is gone" bash -c "! dpkg-query -W -f='\${Status}' kalvessa100 2>/dev/null | grep -q installed"
check "its files are gone" bash -c "! ls -d /usr/bin/kalvessa100 /usr/bin/kalvessa100ctl $helper \
    /usr/share/applications/org.kalvessa.Kalvessa100.desktop /usr/lib/tmpfiles.d/kalvessa100.conf \
    /usr/lib/systemd/system/kalvessa100-apply@.service /etc/kalvessa100 \
    /var/lib/kalvessa100 /run/kalvessa100 $extcap $dissector 2>/dev/null | grep -q ."
if [ "$group_before" -eq 0 ]; then
    check "the group kalvessa it made is gone" bash -c "! getent group kalvessa >/dev/null"
fi

echo "packaging: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
