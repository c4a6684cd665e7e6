#!/usr/bin/env bash
# Makes the Debian package with cpack, checks that it depends on Debian's
# SystemC runtime, unpacks it into a temporary directory (not installed) and
# runs the program from there on the configurations and traces it ships: the
# standard output must be that of the build's own program.
#   package_test.sh <build dir> <source dir> <libdir> <version> <build's quorsim>
set -euo pipefail
build=$1 source=$2 libdir=$3 version=$4 program=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
real() { realpath -m -s "$1"; }
loaded() { ldd "$1" | awk -v lib="$2" '$1 == lib { print $3 }'; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/cpack" > "$work/cpack.log" ||
  { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/cpack/*.deb)
if [ ${#debs[@]} != 1 ] || [ ! -f "${debs[0]}" ]; then fail "cpack made ${debs[*]}"; fi
deb=${debs[0]}

echo "-- control fields"
[ "$(dpkg-deb -f "$deb" Package)" = quorsim ] || fail "package name $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
grep -Eq '(^|, )libsystemc( \(|,|$)' <<< "$depends" || fail "Depends names no libsystemc: $depends"

echo "-- the unpacked program"
dpkg-deb -x "$deb" "$work/root"
usr=$(real "$work/root/usr")
[ "$(real "$(loaded "$usr/bin/quorsim" libquorsim.so.0)")" = "$usr/$libdir/libquorsim.so.0" ] ||
  fail "the unpacked quorsim does not load the library beside it: $(ldd "$usr/bin/quorsim")"
[ "$("$usr/bin/quorsim" --version 2> /dev/null)" = "quorsim $version" ] || fail "--version"
[ "$(real "$(PKG_CONFIG_PATH=$usr/$libdir/pkgconfig pkg-config --variable=prefix quorsim)")" = "$usr" ] ||
  fail "the unpacked quorsim.pc does not name $usr"

for config in configs/default.ini configs/trace_replay.ini; do
  (cd "$usr/share/quorsim" && "$usr/bin/quorsim" "$config" SIM_TIME=1000) \
    > "$work/unpacked.out" 2> "$work/unpacked.err" ||
    fail "unpacked quorsim $config exited $?: $(cat "$work/unpacked.err")"
  (cd "$source" && "$program" "$config" SIM_TIME=1000) > "$work/build.out" 2> /dev/null ||
    fail "build's quorsim $config exited $?"
  grep -q '^======= Dumping stats at ' "$work/unpacked.out" || fail "$config: no report"
  diff "$work/build.out" "$work/unpacked.out" > /dev/null ||
    fail "$config: the unpacked program prints otherwise than the build's"
done

echo "package test passed"
