#!/usr/bin/env bash
# Builds the spectrum tools, makes a 20000-point series from the bundled
# example (repeated in later years) and compares the program's spectrum with
# astropy's LombScargle on it.  tools/setup.sh installs astropy with the
# rest (run as root).
#   bench/spectrum/side_by_side.sh [n_points]     (default 10000)
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target spectrum_dump >/dev/null
series=$(mktemp --suffix=.dat)
trap 'rm -f "$series"' EXIT
/usr/bin/python3 - "$series" <<'PY'
import math, sys
rows = [tuple(map(float, l.split())) for l in open("examples/datos.dat") if l.strip()]
span = math.ceil((rows[-1][0] - rows[0][0] + 1) / 365.25) * 365.25
out, k = [], 0
while len(out) < 20000:
    out += [(t + math.floor(k * span), x) for t, x in rows]
    k += 1
with open(sys.argv[1], "w") as f:
    for t, x in out[:20000]:
        f.write(f"{t:.5f} {x:.4f}\n")
PY
/usr/bin/python3 bench/spectrum/side_by_side.py build/bench/spectrum/spectrum_dump "$series" "${1:-10000}"
