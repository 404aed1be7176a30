#!/bin/bash
# Builds the package against a vendor library in place of the emulated
# board (a tiny stand-in built here), installs it, and checks that the
# programs use that library and that the emulator is not installed.
set -euo pipefail
src=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "test-vendor: $*" >&2; exit 1; }

mkdir "$work/vendor"
cc -shared -fPIC -Wall -Wextra -Werror -I"$src/driver" -Wl,-soname,libtsync.so \
   -o "$work/vendor/libtsync.so" "$src/packaging/vendor-standin/tsync_standin.c"

cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_WERROR=ON \
      -DORVANE_TSYNC_LIBRARY="$work/vendor/libtsync.so" >/dev/null
cmake --build "$work/build" -j2 >/dev/null
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null
p=$work/prefix

[[ -e $p/lib/libtsync.so ]] && fail "the emulated libtsync.so was installed"
[[ -e $p/bin/tsyncemu || -e $p/bin/mbemu ]] && fail "the emulator tools were installed"
readelf -d "$p/bin/brdclock" | grep -q 'NEEDED.*\[libtsync.so\]' || fail "brdclock does not need libtsync.so"

# The vendor library is found where the system keeps it; here, its directory.
export LD_LIBRARY_PATH=$work/vendor
out=$("$p/bin/brdclock" 0)
expected=$'\n DOY Time:\n  Year: 2030\n  DOY:  100\n  Hr:   01\n  Min:  02\n  Sec:  03\n  Nsec: 000000004\n  Sync: TRUE'
[[ $out == "$expected" ]] || fail "brdclock against the vendor library printed: $out"
out=$("$p/bin/brdclock" 1) && fail "brdclock 1 must fail"
[[ $out == "$p/bin/brdclock: !Could not open </dev/tsyncpci1> : rc <99>" ]] || fail "brdclock 1 printed: $out"
[[ $("$p/bin/lampcheck"; echo $?) == 0 ]] || fail "lampcheck"

echo "test-vendor: all checks passed"
