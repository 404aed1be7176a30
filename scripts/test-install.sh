#!/bin/bash
# Installs a build into a temporary prefix, moves the prefix, and checks that
# the programs still run there, that the libraries export their interface
# only, and that programs outside the project build against the installed
# brdlink through its CMake package and its pkg-config file.
#   scripts/test-install.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
src=$(realpath "$(dirname "$0")/..")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "test-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/prefix"
p=$work/prefix

for prog in zeromark brdclock brdanno brdflank brdpinmark brdmark pkgabout lampcheck tsyncemu mbemu; do
    [[ -x $p/bin/$prog ]] || fail "bin/$prog not installed"
    readelf -d "$p/bin/$prog" | grep -q 'RUNPATH.*\[\$ORIGIN/../lib\]' || fail "bin/$prog: RUNPATH is not \$ORIGIN/../lib"
done
for lib in libtsync.so liborvane_core.so libbrdlink.so libbrdlink.so.1; do
    [[ -e $p/lib/$lib ]] || fail "lib/$lib not installed"
done
for h in brdlink.h tsync.hpp caltime.hpp tsync.h; do
    [[ -f $p/include/$h ]] || fail "include/$h not installed"
done
[[ -f $p/lib/pkgconfig/brdlink.pc ]] || fail "brdlink.pc not installed"
[[ -f $p/share/man/man1/zeromark.1.gz ]] || fail "man pages not installed"

# Exported interface: the twelve driver calls, the three C exports.
driver=$(nm -D --defined-only "$p/lib/libtsync.so" | awk '{print $3}' | sort)
expected=$(printf '%s\n' TSYNC_CS_setYear TSYNC_EC_setMode TSYNC_EC_setState TSYNC_GI_setEdge \
    TSYNC_GI_setTsEnable TSYNC_HW_getTime TSYNC_HW_getTsData TSYNC_HW_getTsSingle TSYNC_HW_setTsEnable \
    TSYNC_close TSYNC_open tsync_strerror | sort)
[[ $driver == "$expected" ]] || fail "libtsync.so exports: $driver"
for sym in HW_GetTsData HW_GetTsSingle Led_Test; do
    nm -D --defined-only "$p/lib/libbrdlink.so" | grep -qw "T $sym" || fail "libbrdlink.so does not export $sym"
done

# The moved prefix runs.
[[ $("$p/bin/pkgabout" -n) == 1.1 ]] || fail "pkgabout -n from the moved prefix"
export TSYNC_EMULATOR_DIR=$work/boards
mkdir "$TSYNC_EMULATOR_DIR"
"$p/bin/tsyncemu" create 0 --frozen 2026-12-11T12:00:00 >/dev/null
"$p/bin/brdclock" 0 | grep -q '  Year: 2026' || fail "brdclock from the moved prefix"

# Consumers: CMake package and pkg-config.
cmake -S "$src/packaging/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$p" >/dev/null
cmake --build "$work/consumer" >/dev/null
[[ $("$work/consumer/drain") == "HW_GetTsData: 0" ]] || fail "CMake consumer"
cc $(PKG_CONFIG_PATH=$p/lib/pkgconfig pkg-config --cflags --libs brdlink) -o "$work/drain-pc" \
    "$src/packaging/consumer/drain.c" $(PKG_CONFIG_PATH=$p/lib/pkgconfig pkg-config --libs brdlink)
[[ $("$work/drain-pc") == "HW_GetTsData: 0" ]] || fail "pkg-config consumer"
rm -rf "$TSYNC_EMULATOR_DIR"
"$work/drain-pc" >/dev/null && fail "HW_GetTsData without a board must fail"

echo "test-install: all checks passed"
