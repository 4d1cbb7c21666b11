#!/usr/bin/env bash
# Installs the engine library from a build tree into a temporary prefix,
# builds the example examples/engine/periods.cpp against the installed
# package (CMake find_package and pkg-config), runs both builds on the
# example series and checks their peaks against the program's peak table.
#   installed_package.sh <build dir> <source dir> <sanitize ON/OFF> <c++ compiler> <fasogram>
set -euo pipefail
build=$1 src=$2 sanitize=${3:-OFF} cxx=${4:-c++} program=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

san=()
if [ "$sanitize" = ON ]; then san=(-fsanitize=address,undefined); fi

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in include/fasogram/spectrum.hpp include/fasogram/series.hpp lib/libfasogram_engine.a lib/pkgconfig/fasogram.pc \
         lib/cmake/fasogram/fasogramConfig.cmake lib/cmake/fasogram/fasogramConfigVersion.cmake; do
  [ -f "$work/prefix/$f" ] || fail "$f not installed"
done
# Only the public headers are installed.
[ "$(find "$work/prefix/include/fasogram" -type f | wc -l)" = 2 ] || fail "internal headers installed"

cmake -S "$src/examples/engine" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="${san[*]:-}" >/dev/null
cmake --build "$work/build" >/dev/null

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
# shellcheck disable=SC2046
"$cxx" -std=c++20 "${san[@]}" $(pkg-config --cflags fasogram) "$src/examples/engine/periods.cpp" \
       -o "$work/pc_periods" $(pkg-config --libs fasogram)

"$work/build/periods" <"$src/examples/datos.dat" >"$work/cmake.out"
"$work/pc_periods" <"$src/examples/datos.dat" >"$work/pc.out"
cmp -s "$work/cmake.out" "$work/pc.out" || fail "the two builds differ"
[ "$(wc -l <"$work/cmake.out")" = 2 ] || fail "not two peaks: $(cat "$work/cmake.out")"

# The program's peak table on the same grid: period and rho of each peak.
(cd "$work" && "$program" -q --from 0 --to 0.5 --steps 5000 --peaks 2 -o table.dat \
   "$src/examples/datos.dat") >"$work/peaks.txt"
awk 'NR > 1 { printf "period %.4f  rho %.6f  amplitude %.4f\n", $3, $4, $5 }' "$work/peaks.txt" \
  >"$work/expected.out"
diff "$work/expected.out" "$work/cmake.out" >&2 || fail "peaks differ from the program's"
echo "installed engine OK"
