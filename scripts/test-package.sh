#!/bin/bash
# Checks the Debian package made by `cmake --workflow --preset package`:
# its name, control fields and contents, then unpacks it into a temporary
# directory and runs pkgabout and a T0 run against the emulator from there.
#   scripts/test-package.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
src=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d)
mbemu_pid=
cleanup() {
    [[ -n $mbemu_pid ]] && kill "$mbemu_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test-package: $*" >&2; exit 1; }

deb=$build/orvane-tsync_1.1-0_amd64.deb
[[ -f $deb ]] || fail "no $deb"

depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libc6* && $depends == *libstdc++6* ]] || fail "dependencies not computed: '$depends'"
[[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || fail "no maintainer"
[[ -n $(dpkg-deb -f "$deb" Description) ]] || fail "no description"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in bin/zeromark bin/brdclock bin/pkgabout bin/tsyncemu bin/mbemu lib/libbrdlink.so.1 lib/libtsync.so \
         lib/liborvane_core.so include/brdlink.h lib/pkgconfig/brdlink.pc lib/cmake/brdlink/brdlinkConfig.cmake \
         share/man/man1/zeromark.1.gz share/man/man5/t0file.5.gz share/man/man3/brdlink.3.gz; do
    grep -qx "./opt/orvane-tsync/$f" <<<"$contents" || fail "$f missing from the package"
done
grep -q '^\./usr/lib' <<<"$contents" && fail "the package puts files in /usr/lib"

dpkg-deb -x "$deb" "$work/root"
bin=$work/root/opt/orvane-tsync/bin
[[ $("$bin/pkgabout" -v) == "orvane-tsync 1.1-0   [Spectracom TSync-PCI 2.5.0]   (2200)   "* ]] || fail "pkgabout -v"

# A T0 run on loopback with the unpacked programs.
export TSYNC_EMULATOR_DIR=$work/boards
mkdir "$TSYNC_EMULATOR_DIR"
"$bin/tsyncemu" create 0 >/dev/null
"$bin/brdmark" 0 1 >/dev/null
"$bin/brdpinmark" 0 0 1 >/dev/null
"$bin/brdflank" 0 0 1 >/dev/null
"$bin/mbemu" --count 1 --timeout 20 > "$work/mbemu.log" &
mbemu_pid=$!
for _ in $(seq 100); do grep -q listening "$work/mbemu.log" 2>/dev/null && break; sleep 0.05; done
grep -q listening "$work/mbemu.log" || fail "mbemu did not start: $(cat "$work/mbemu.log")"
"$bin/zeromark" 127.0.0.1 "$work/t0" > "$work/out" || fail "zeromark failed: $(cat "$work/out")"
wait "$mbemu_pid" || true
mbemu_pid=
grep -q '^Putting IRIG_B date T0  (' "$work/out" || fail "no IRIG-B report line: $(cat "$work/out")"
[[ $(wc -l < "$work/t0") == 2 ]] || fail "T0 file: $(cat "$work/t0")"
grep -q '_UTC  # Irig_b clock$' "$work/t0" || fail "T0 file line 1: $(cat "$work/t0")"

echo "test-package: all checks passed"
