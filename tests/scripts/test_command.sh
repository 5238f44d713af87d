#!/usr/bin/env bash
# The README's test command keeps its word: after the run command has configured the build
# without tests, it still sets them up, and its last line counts what ran.
#   test_command.sh <source dir> <scratch dir>
set -euo pipefail
src=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
fail() { echo "FAIL: $*" >&2; exit 1; }

# What scripts/run.sh leaves behind, then the test command's own configure step.
cmake -S "$src" -B "$scratch/build" -DKALVESSA_BUILD_TESTS=OFF -DKALVESSA_BUILD_BENCHMARKS=OFF >/dev/null 2>&1
KALVESSA_BUILD_DIR=$scratch/build "$src/scripts/test.sh" --configure-only >/dev/null 2>&1
listed=$(ctest --test-dir "$scratch/build" -N | sed -n 's/^Total Tests: //p')
[ "${listed:-0}" -gt 0 ] || fail "no tests set up after a tests-off configure"

# The summary line: passed, failed and skipped counted from ctest's own lines.
cat >"$scratch/ctest.txt" <<'LOG'
 1/4 Test #1: tst_a ....................   Passed    0.04 sec
 2/4 Test #2: tst_b ....................***Failed    0.10 sec
 3/4 Test #3: tst_c ....................***Skipped   0.01 sec
 4/4 Test #4: tst_d ....................   Passed    1.00 sec
LOG
line=$("$src/scripts/test-summary.sh" "$scratch/ctest.txt")
case "$line" in
    "Tests: 2 passed, 1 failed, 1 skipped of 4."*) ;;
    *) fail "summary line: $line" ;;
esac
: >"$scratch/empty.txt"
[ "$("$src/scripts/test-summary.sh" "$scratch/empty.txt")" = "Tests: none ran." ] || fail "empty run"
rm -rf "$scratch"
echo "test command: ok"
