#!/usr/bin/env bash
# Checks that every C++ file of the tree follows .clang-format; run by CI. With --fix, formats
# them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --format
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
clang-format --version
if ! clang-format --dry-run --Werror "${files[@]}"; then
    echo "Some files do not follow .clang-format; scripts/check-format.sh --fix formats them." >&2
    exit 1
fi
echo "Layout: ${#files[@]} files follow .clang-format."
