#!/usr/bin/env bash
# Builds the benchmark and runs the large-grid comparison: the engine as the
# program runs it, the direct sums alone and astropy's fast method.  tools/setup.sh
# installs astropy with the rest (run as root).
#   bench/spectrum/nufft_side_by_side.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target bench_nufft >/dev/null
/usr/bin/python3 bench/spectrum/nufft_side_by_side.py build/bench/spectrum/bench_nufft "$@"
