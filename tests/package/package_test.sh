#!/usr/bin/env bash
# Makes the Debian packages with cpack (the runtime library, its development
# files, the programs), checks their names, their dependencies on one another
# and on Debian's SystemC, and that lintian finds no error or warning in them.
# Then it unpacks them into a temporary directory (not installed) and runs the
# programs and tools from there: the program on the configurations and traces it
# ships must print what the build's own program prints, --help and --version
# without the kernel's banner, and a small sweep through quorsim-sweep must find
# the unpacked quorsim, its configurations and quorsim-plot.
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
made=$(cd "$work/cpack" && ls -- *.deb | tr '\n' ' ')
arch=$(dpkg --print-architecture)
[ "$made" = "libquorsim-dev_${version}_$arch.deb libquorsim0_${version}_$arch.deb quorsim_${version}_$arch.deb " ] ||
  fail "cpack made $made"
lib=$(echo "$work"/cpack/libquorsim0_*.deb) dev=$(echo "$work"/cpack/libquorsim-dev_*.deb)
programs=$(echo "$work"/cpack/quorsim_*.deb)

echo "-- control fields"
field() { dpkg-deb -f "$1" "$2"; }
for deb in "$lib" "$dev" "$programs"; do
  [ "$(field "$deb" Version)" = "$version" ] || fail "$deb: version $(field "$deb" Version)"
done
[ "$(field "$lib" Package)" = libquorsim0 ] || fail "runtime package $(field "$lib" Package)"
[ "$(field "$dev" Package)" = libquorsim-dev ] || fail "development package $(field "$dev" Package)"
[ "$(field "$programs" Package)" = quorsim ] || fail "programs package $(field "$programs" Package)"
has() { grep -Eq "(^|, )$2( \(|,|$)" <<< "$(field "$1" Depends)" || fail "$1 does not depend on $2: $(field "$1" Depends)"; }
has "$lib" libsystemc
has "$programs" libsystemc
has "$programs" "libquorsim0 \(= $version\)"
has "$programs" python3
has "$dev" "libquorsim0 \(= $version\)"
has "$dev" libsystemc-dev
has "$dev" nlohmann-json3-dev
[ "$(dpkg-parsechangelog -l "$source/packaging/changelog" -SVersion)" = "$version" ] ||
  fail "packaging/changelog's last entry is not $version"

echo "-- lintian"
lintian --fail-on error,warning "$lib" "$dev" "$programs" > "$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian"; }

echo "-- the unpacked program"
for deb in "$lib" "$dev" "$programs"; do dpkg-deb -x "$deb" "$work/root"; done
usr=$(real "$work/root/usr")
for page in quorsim quorbench quorsim-sweep quorsim-plot; do
  [ -x "$usr/bin/$page" ] || fail "no $page in bin"
  zcat "$usr/share/man/man1/$page.1.gz" | grep -q "^\.TH ${page^^} \"1\"" || fail "no manual page $page(1)"
done
[ "$(real "$(loaded "$usr/bin/quorsim" libquorsim.so.0)")" = "$usr/$libdir/libquorsim.so.0" ] ||
  fail "the unpacked quorsim does not load the library beside it: $(ldd "$usr/bin/quorsim")"
[ "$("$usr/bin/quorsim" --version 2> /dev/null)" = "quorsim $version" ] || fail "--version"
[ "$(real "$(PKG_CONFIG_PATH=$usr/$libdir/pkgconfig pkg-config --variable=prefix quorsim)")" = "$usr" ] ||
  fail "the unpacked quorsim.pc does not name $usr"
for p in quorsim quorbench; do
  for option in --help --version; do
    "$usr/bin/$p" $option > /dev/null 2> "$work/option.err" || fail "$p $option exited $?"
    [ ! -s "$work/option.err" ] || fail "$p $option wrote on standard error: $(cat "$work/option.err")"
  done
done

for config in configs/default.ini configs/trace_replay.ini; do
  (cd "$usr/share/quorsim" && "$usr/bin/quorsim" "$config" SIM_TIME=1000) \
    > "$work/unpacked.out" 2> "$work/unpacked.err" ||
    fail "unpacked quorsim $config exited $?: $(cat "$work/unpacked.err")"
  (cd "$source" && "$program" "$config" SIM_TIME=1000) > "$work/build.out" 2> /dev/null ||
    fail "build's quorsim $config exited $?"
  grep -q '^======= Dumping stats at ' "$work/unpacked.out" || fail "$config: no report"
  diff "$work/build.out" "$work/unpacked.out" > /dev/null ||
    fail "$config: the unpacked program prints otherwise than the build's"
  grep -q "Copyright (c)" "$work/unpacked.err" || fail "$config: no kernel banner on standard error"
done

echo "-- the unpacked tools"
cat > "$work/tiny.yaml" <<'YAML'
base: configs/reads_only.ini
set:
  SIM_TIME: 500
grid:
  NUM_REQUESTS: [20, 40]
YAML
(cd "$usr/share/quorsim" && "$usr/bin/quorsim-sweep" "$work/tiny.yaml" --out "$work/sweep" --jobs 1) \
  > "$work/sweep.log" 2>&1 || { cat "$work/sweep.log"; fail "quorsim-sweep"; }
grep -q "\"quorsim\": \"$usr/bin/quorsim\"" "$work/sweep/plan.json" ||
  fail "quorsim-sweep ran another quorsim: $(grep '"quorsim"' "$work/sweep/plan.json")"
[ "$(wc -l < "$work/sweep/results.csv")" = 3 ] || fail "results.csv: $(cat "$work/sweep/results.csv")"
[ -s "$work/sweep/figures/vault-heatmap.svg" ] || fail "quorsim-plot drew no figures: $(cat "$work/sweep.log")"

echo "package test passed"
