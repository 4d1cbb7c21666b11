#!/usr/bin/env bash
# Installs plotix from a build tree into a temporary prefix, builds the
# example against the installed package (CMake find_package and pkg-config),
# runs both builds and checks the PostScript they write and the summary box.
#   installed_package.sh <build dir> <source dir> <sanitize ON/OFF> <c++ compiler>
set -euo pipefail
build=$1 src=$2 sanitize=${3:-OFF} cxx=${4:-c++}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

san=()
if [ "$sanitize" = ON ]; then san=(-fsanitize=address,undefined); fi

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in include/plotix.h lib/libplotix.a lib/pkgconfig/plotix.pc lib/cmake/plotix/plotixConfig.cmake; do
  [ -f "$work/prefix/$f" ] || fail "$f not installed"
done

cmake -S "$src/examples" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="${san[*]:-}" >/dev/null
cmake --build "$work/build" >/dev/null

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
cflags=$(pkg-config --cflags plotix)
libs=$(pkg-config --libs plotix)
incdir=${cflags#-I}
incdir=${incdir%% *}
[ "$(realpath "$incdir")" = "$(realpath "$work/prefix/include")" ] || fail "pkg-config --cflags: $cflags"
[[ " $libs " == *" -lplotix "* && " $libs " == *" -lz "* && " $libs " == *" -lX11 "* ]] ||
  fail "pkg-config --libs: $libs"
# shellcheck disable=SC2086
"$cxx" -std=c++20 "${san[@]}" $cflags "$src/examples/plot_lines.cpp" -o "$work/pc_example" $libs

mkdir "$work/run"
cd "$work/run"
"$work/build/plot_lines" >cmake.out
"$work/pc_example" >pc.out

check_ps() { # file
  local ps=$1
  [ -f "$ps" ] || fail "$ps not written"
  [ "$(sed -n 1p "$ps")" = "%!PS-Adobe-2.0" ] || fail "$ps: line 1"
  [ "$(sed -n 2p "$ps")" = "%%BoundingBox:  21 28 575 811" ] || fail "$ps: bounding box"
  [ "$(sed -n 3p "$ps")" = "%%Creator: PLOTIX   8.0 L" ] || fail "$ps: creator"
  sed -n 4p "$ps" | grep -Eq '^%%CreationDate: [0-9]{2}\.[0-9]{2}\.[0-9]{4} , [0-9]{2}:[0-9]{2}:[0-9]{2}$' ||
    fail "$ps: creation date"
  [ "$(sed -n 5,6p "$ps")" = $'%%Page: 1 1\n%%EndComments' ] || fail "$ps: comments"
  sed -n 7,85p "$ps" | cmp -s - "$src/tests/plot/data/prolog.txt" || fail "$ps: prolog"
  [ "$(sed -n 86p "$ps")" = "  150 cm   200 cm translate 5 cm setlinewidth   1.000476  1.000476 scale" ] ||
    fail "$ps: placement"
  tail -c 10 "$ps" | cmp -s - <(printf 'showpage \n') || fail "$ps: page end"
  awk 'length($0) > 80 { exit 1 }' "$ps" || fail "$ps: line over 80 characters"
  gs -dSAFER -dBATCH -dNOPAUSE -q -sDEVICE=png16m -r30 -sOutputFile=page.png "$ps" ||
    fail "$ps: ghostscript"
  [ -s page.png ] || fail "$ps: no page rendered"
}

check_box() { # output file, ps name
  local out=$1 name=$2
  local border=' <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<'
  [ "$(sed -n 1p "$out")" = "" ] || fail "$out: box must follow an empty line"
  [ "$(sed -n 2p "$out")" = "$border" ] || fail "$out: border"
  [ "$(sed -n 3p "$out")" = " <<                END OF PLOTIX / VERSION  8.0                  <<" ] ||
    fail "$out: title"
  sed -n 4p "$out" |
    grep -Eq '^ <<  Date    : [0-9]{2}\.[0-9]{2}\.[0-9]{4}  Time    : [0-9]{2}:[0-9]{2}:[0-9]{2}  Pageformat: DA4L  <<$' ||
    fail "$out: date line"
  [ "$(sed -n 5p "$out")" = " <<  Vectors : 48          Warnings: 0         Fileformat:   PS  <<" ] ||
    fail "$out: counts"
  [ "$(sed -n 6p "$out")" = "$(printf ' <<  %-58s  <<' "Metafile: $name")" ] || fail "$out: file"
  [ "$(sed -n 7p "$out")" = "$border" ] || fail "$out: border"
  [ "$(sed -n 8p "$out")" = "" ] || fail "$out: empty line at the end"
  [ "$(wc -l <"$out")" = 8 ] || fail "$out: extra lines"
}

check_ps plotix.ps
check_ps plotix_1.ps
check_box cmake.out plotix.ps
check_box pc.out plotix_1.ps
echo "installed package OK"
