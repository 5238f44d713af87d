#!/usr/bin/env bash
# Makes the Debian package kalvessa100_<version>_<arch>.deb in the repository root (replacing
# any kalvessa100_*.deb there), from a build of its own (build-package/, made afresh each time)
# through CPack: the package holds whatever `cmake --install` installs, with dependencies
# computed from the programs.
#
#   scripts/package.sh [cmake options]
#   scripts/package.sh -DKALVESSA_FIRMWARE_IMAGE=/absolute/path/to/kalvessa100-firmware.bin
#
# Without the maker's firmware image the build carries the stand-in, and the package says so:
# its version is <version>~standin and its description warns against flashing a real tap.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --packaging

build=build-package
rm -rf "$build"
rm -f kalvessa100_*.deb
umask 022
# Debian's compiler and linker flags (hardening included), as a package built with Debian's
# own tools would get; CMake reads CPPFLAGS nowhere, so they go with the C++ flags.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DKALVESSA_BUILD_TESTS=OFF -DKALVESSA_BUILD_BENCHMARKS=OFF -DKALVESSA_INSTALL_LOCK_FOLDER=ON "$@"
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB)
mv "$build"/kalvessa100_*.deb .
ls -l kalvessa100_*.deb
