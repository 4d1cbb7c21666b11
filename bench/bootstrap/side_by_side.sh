#!/usr/bin/env bash
# Builds the Python module and times the bootstrap false-alarm probability
# against astropy's on the same series and grid (side_by_side.py).
# tools/setup.sh installs astropy and OpenBLAS with the rest (run as root).
#   bench/bootstrap/side_by_side.sh [side_by_side.py options]
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/setup.sh
cmake -S . -B build -DFASOGRAM_PYTHON=ON >/dev/null
cmake --build build -j "$(nproc)" --target _fasogram >/dev/null
PYTHONPATH=build/python /usr/bin/python3 bench/bootstrap/side_by_side.py "$@"
