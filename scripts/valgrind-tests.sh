#!/bin/bash
# Runs the test suite of a build with every program it starts under valgrind
# memcheck (scripts/vg), then the in-process library tests themselves under
# valgrind. Memory errors, definite leaks and leaked descriptors fail.
#   scripts/valgrind-tests.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
here=$(realpath "$(dirname "$0")")
export ORVANE_VG_REPORT=$build/valgrind-report.txt
rm -f "$ORVANE_VG_REPORT"

# Programs under valgrind, through the tests that run them (the long sweep
# and the fuzz replays left out).
ORVANE_TEST_WRAPPER=$here/vg ctest --test-dir "$build" -j2 --timeout 900 --output-on-failure \
    -LE 'long|fuzz'

# The libraries in-process, with their own tests.
for t in core_test brdlink_test emulator_test; do
    "$here/vg" "$build/bin/$t" --gtest_brief=1
done

if [[ -s $ORVANE_VG_REPORT ]]; then
    cat "$ORVANE_VG_REPORT" >&2
    exit 1
fi
echo "valgrind-tests: no findings"
