#!/usr/bin/env bash
# Builds the benchmark and runs the large-grid comparison: the engine as the
# program runs it, the direct sums alone and astropy's fast method.  Installs
# Debian's python3-astropy when missing (run as root).
#   bench/spectrum/nufft_side_by_side.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/setup.sh
if ! /usr/bin/python3 -c 'import astropy, numpy' 2>/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    python3-astropy python3-numpy >/dev/null
fi
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target bench_nufft >/dev/null
/usr/bin/python3 bench/spectrum/nufft_side_by_side.py build/bench/spectrum/bench_nufft "$@"
