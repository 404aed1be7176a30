#!/bin/bash
# The T0 demo: a T0 calibration rehearsed on loopback against an emulated
# board and the motherboard emulator.
#
#   scripts/demo.sh [BIN_DIR]     BIN_DIR: the build's bin/ (found if omitted)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=${1:-}
if [[ -z $bin ]]; then
    for candidate in "$here"/../build/release/bin "$here"/../build/dev/bin; do
        [[ -x $candidate/zeromark ]] && { bin=$candidate; break; }
    done
fi
for program in zeromark mbemu tsyncemu brdmark brdpinmark brdflank; do
    [[ -x ${bin:-.}/$program ]] || { echo "demo: no $program in '${bin:-}': build first or give the bin directory" >&2; exit 1; }
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/orvane-demo-XXXXXX")
mbemu_pid=
cleanup() {
    [[ -n $mbemu_pid ]] && kill "$mbemu_pid" 2>/dev/null && wait "$mbemu_pid" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
export TSYNC_EMULATOR_DIR=$dir

step() { printf '\n== %s\n' "$*"; }

step "emulated board 0 in $dir, clock following the system clock"
"$bin/tsyncemu" create 0
"$bin/brdmark" 0 1
"$bin/brdpinmark" 0 0 1
"$bin/brdflank" 0 0 1

step "motherboard emulator"
"$bin/mbemu" --count 1 --timeout 10 >"$dir/mbemu.log" 2>&1 &
mbemu_pid=$!
for _ in $(seq 100); do
    grep -q '^listening on ' "$dir/mbemu.log" && break
    if ! kill -0 "$mbemu_pid" 2>/dev/null; then
        cat "$dir/mbemu.log" >&2
        echo "demo: mbemu did not start (is UDP port 55555 taken?)" >&2
        exit 1
    fi
    sleep 0.05
done
grep -q '^listening on ' "$dir/mbemu.log" || { echo "demo: mbemu did not get ready" >&2; exit 1; }
cat "$dir/mbemu.log"

step "zeromark 127.0.0.1 $dir/t0"
"$bin/zeromark" 127.0.0.1 "$dir/t0"

wait "$mbemu_pid" || true
mbemu_pid=
step "mbemu's log"
cat "$dir/mbemu.log"

step "T0 file"
cat "$dir/t0"

# Line 1 is the board's time (UTC) shown as civil time, line 2 the PC's local
# civil time: read the first as UTC and the second in the local zone.
read -r t0_line <"$dir/t0"
pc_line=$(sed -n 2p "$dir/t0")
civil() { sed "s/_/ /; s/\\..*//" <<<"$1"; }          # date and time of day, no fraction
micros_of() { local f=${1#*.}; echo $((10#${f:0:6})); }
t0_s=$(date -u -d "$(civil "$t0_line")" +%s)
pc_s=$(date -d "$(civil "$pc_line")" +%s)
gap=$(( (t0_s - pc_s) * 1000000 + $(micros_of "$t0_line") - $(micros_of "$pc_line") ))
step "T0 instant minus PC send time: $gap microseconds"
