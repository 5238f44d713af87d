#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test the tool, if any are missing.
# Uses sudo when not run as root.
#   scripts/install-deps.sh               what building, running and testing need
#   scripts/install-deps.sh --packaging   also what making and checking the Debian package need
#   scripts/install-deps.sh --format      also clang-format, which checks the code's layout
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
    libpcap-dev
    clang libclang-rt-14-dev
    iproute2 util-linux libcap2-bin procps
    systemd  # systemd-analyze checks the unit that applies declared settings
    ansible  # runs the Ansible module in contrib/ansible against simulated taps
    tshark  # runs the extcap and the dissector as Wireshark does
    xvfb xauth fonts-dejavu-core
)
if [ "${1:-}" = "--format" ]; then
    packages+=(clang-format)
fi
if [ "${1:-}" = "--packaging" ]; then
    # dpkg-dev: dpkg-shlibdeps and dpkg-buildflags; file: CPack finds the programs with it;
    # the rest checks the package and what it installs.
    packages+=(dpkg-dev file xz-utils lintian desktop-file-utils appstream adduser man-db)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
echo "Installing: ${missing[*]}"
# tshark's package would ask whether to let non-root users capture (a setuid dumpcap); the
# tests need no such thing, and nothing may wait for an answer.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo debconf-set-selections
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
