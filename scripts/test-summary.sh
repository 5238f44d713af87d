#!/usr/bin/env bash
# Reads what ctest printed and ends a test run with one line: how many tests passed, failed and
# were skipped, and why namespace tests were skipped when they were.
#   scripts/test-summary.sh <ctest output>
set -euo pipefail
log=$1

count() { grep -cE "Test +#[0-9]+: .*$1" "$log" || true; }
passed=$(count ' Passed')
skipped=$(count '\*\*\*(Skipped|Not Run)')
failed=$(count '\*\*\*(Failed|Exception|Timeout)')
total=$((passed + skipped + failed))

line="Tests: $passed passed, $failed failed, $skipped skipped of $total."
if [ "$total" -eq 0 ]; then
    line="Tests: none ran."
elif [ "$skipped" -gt 0 ] && ! { unshare -n true || unshare -rn true; } 2>/dev/null; then
    line="$line The tests that need a private network namespace were skipped: this host does not let"
    line="$line this user make one (unshare -rn). Run them as root (sudo scripts/test.sh), or allow"
    line="$line unprivileged user namespaces (sudo sysctl -w kernel.unprivileged_userns_clone=1)."
fi
echo "$line"
