#!/usr/bin/env bash
# Installs the build into a temporary prefix and moves that prefix elsewhere,
# so nothing installed may point at where it was configured or installed. Then
# the tools must work from their links in bin/, the relocatable pkg-config file
# must name the new place, the program must run on the library beside it, and
# examples/embed must build against the prefix through find_package and through
# pkg-config, and run.
#   install_test.sh <build dir> <source dir> <libdir> <version>
set -euo pipefail
build=$1 source=$2 libdir=$3 version=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Absolute form of a path, ".." resolved, symbolic links kept.
real() { realpath -m -s "$1"; }
# The file the dynamic loader takes for <library> when <program> starts.
loaded() { ldd "$1" | awk -v lib="$2" '$1 == lib { print $3 }'; }

cmake --install "$build" --prefix "$work/installed" > "$work/install.log"
mv "$work/installed" "$work/prefix"
prefix=$(real "$work/prefix")

for f in bin/quorsim bin/quorbench "$libdir/libquorsim.so" include/quorsim/quor2_quor_wrapper.h \
         "$libdir/cmake/quorsim/quorsimConfig.cmake" share/quorsim/configs/default.ini \
         share/quorsim/traces/test.txt share/quorsim/tools/sweep-configs share/doc/quorsim/docs/sweeps.md \
         share/man/man1/quorsim.1.gz share/man/man1/quorbench.1.gz share/man/man1/quorsim-sweep.1.gz \
         share/man/man1/quorsim-plot.1.gz; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done

echo "-- the tools on the PATH"
# Through their links in bin/ they find the installation's configurations.
printf 'grid:\n  NUM_REQUESTS: [20, 40]\n' > "$work/tiny.yaml"
"$prefix/bin/quorsim-sweep" "$work/tiny.yaml" --out "$work/sweep" --dry-run > "$work/dry.log" 2>&1 ||
  { cat "$work/dry.log"; fail "quorsim-sweep --dry-run"; }
[ "$(grep -c "^run-" "$work/dry.log")" = 2 ] || fail "quorsim-sweep --dry-run: $(cat "$work/dry.log")"
"$prefix/bin/quorsim-plot" --help | grep -q "^usage: quorsim-plot " || fail "quorsim-plot --help"

echo "-- pkg-config"
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[ "$(real "$(pkg-config --variable=prefix quorsim)")" = "$prefix" ] ||
  fail "quorsim.pc names prefix $(pkg-config --variable=prefix quorsim), not $prefix"
include=$(pkg-config --cflags-only-I quorsim | tr ' ' '\n' | sed -n 's/^-I//p' | head -1)
[ "$(real "$include")" = "$prefix/include/quorsim" ] || fail "quorsim.pc gives -I$include"
libpath=$(pkg-config --libs-only-L quorsim | tr ' ' '\n' | sed -n 's/^-L//p' | head -1)
[ "$(real "$libpath")" = "$prefix/$libdir" ] || fail "quorsim.pc gives -L$libpath"

echo "-- the installed program"
[ "$(real "$(loaded "$prefix/bin/quorsim" libquorsim.so.0)")" = "$prefix/$libdir/libquorsim.so.0" ] ||
  fail "bin/quorsim does not load the library beside it: $(ldd "$prefix/bin/quorsim")"
[ "$("$prefix/bin/quorsim" --version 2> /dev/null)" = "quorsim $version" ] ||
  fail "bin/quorsim --version"

# Runs an example host with and without posted writes: every answer printed,
# every tag, token and payload home (exit 0), and the library of the prefix.
check_host() {
  local host=$1 expected overrides out
  [ "$(real "$(loaded "$host" libquorsim.so.0)")" = "$prefix/$libdir/libquorsim.so.0" ] ||
    fail "$host does not load the installed library: $(ldd "$host")"
  for overrides in "" "POSTED_WRITES=true"; do
    expected=12
    [ -n "$overrides" ] && expected=8  # the four posted writes go unanswered
    # shellcheck disable=SC2086  # no override or one word
    out=$("$host" $overrides 2> "$work/host.err") || fail "$host $overrides exited $?: $(cat "$work/host.err")"
    [ "$(grep -c '^answer at ' <<< "$out")" = "$expected" ] || fail "$host $overrides printed: $out"
    grep -qx "$expected of $expected answers by .*, 0 payloads still out" <<< "$out" ||
      fail "$host $overrides ended with: $(tail -1 <<< "$out")"
  done
}

echo "-- examples/embed through find_package"
cmake -S "$source/examples/embed" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" > "$work/cmake.log" ||
  { cat "$work/cmake.log"; fail "configure"; }
grep -qx "quorsim_DIR:PATH=$prefix/$libdir/cmake/quorsim" "$work/cmake/CMakeCache.txt" ||
  fail "find_package took another quorsim: $(grep quorsim_DIR "$work/cmake/CMakeCache.txt")"
cmake --build "$work/cmake" > "$work/build.log" || { cat "$work/build.log"; fail "build"; }
check_host "$work/cmake/embed_host"

echo "-- examples/embed through pkg-config"
mkdir "$work/pc"
make -s -C "$source/examples/embed" BUILD="$work/pc" CXXFLAGS=-O0 > "$work/make.log" ||
  { cat "$work/make.log"; fail "make"; }
check_host "$work/pc/embed_host"

echo "install test passed"
