#!/usr/bin/python3
"""Writes engine/src/nufft_kernel_table.inc: the polynomials the transforms
evaluate their kernel with, and the bound of how far they are from it.

The kernel is phi(z) = exp(beta (sqrt(1 - z^2) - 1)), |z| < 1, beta = 46,
over 20 cells: a point at offset x (-1/2 <= x < 1/2 past the middle of its
cell) gives cell j the value phi((j - 9.5 - x)/10).  For each cell that is
approximated by a polynomial in x of degree DEGREE, interpolating phi at the
Chebyshev points of [-1/2, 1/2] in 40-digit arithmetic; its coefficients are
rounded to doubles, the first two (the largest, whose rounding would move
the values most) to double-doubles (cell 19 - j takes cell j's with the odd
ones negated, so that the kernel stays even).  What the rounded polynomials, evaluated
exactly, differ from phi by is smooth in x and the same for every point at
that offset: the transforms' bound takes the largest sum over a row of its
moduli whole, found on a fine grid of offsets, with a margin.

    tools/gen_kernel.py [output]    (mpmath; a few seconds)
"""

import sys

import mpmath as mp

mp.mp.dps = 40
WIDTH = 20
DEGREE = 14
BETA = mp.mpf(46)  # 2.3 times the width
SAMPLES = 4000     # offsets of the grid the bound is taken on
MARGIN = 1.05


def phi(s):
    z = s / (WIDTH // 2)
    q = 1 - z * z
    return mp.mpf(0) if q <= 0 else mp.e ** (BETA * (mp.sqrt(q) - 1))


def distance(j, x):
    return j - mp.mpf(WIDTH - 1) / 2 - x


def fit(j):
    """Cell j's coefficients as pairs (high, low): low 0 past the first two."""
    nodes = [mp.cos(mp.pi * (k + mp.mpf(1) / 2) / (DEGREE + 1)) / 2 for k in range(DEGREE + 1)]
    a = mp.lu_solve(mp.matrix([[x ** i for i in range(DEGREE + 1)] for x in nodes]),
                    mp.matrix([phi(distance(j, x)) for x in nodes]))
    out = []
    for i in range(DEGREE + 1):
        hi = float(a[i])
        out.append((hi, float(a[i] - hi) if i < 2 else 0.0))
    return out


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "engine/src/nufft_kernel_table.inc"
    half = [fit(j) for j in range(WIDTH // 2)]
    cells = half + [[c if i % 2 == 0 else (-c[0], -c[1]) for i, c in enumerate(half[WIDTH - 1 - j])]
                    for j in range(WIDTH // 2, WIDTH)]
    worst = mp.mpf(0)
    for t in range(SAMPLES + 1):
        x = mp.mpf(t) / SAMPLES - mp.mpf(1) / 2
        total = mp.mpf(0)
        for j in range(WIDTH):
            p = mp.mpf(0)
            for hi, lo in reversed(cells[j]):
                p = p * x + (mp.mpf(hi) + mp.mpf(lo))
            total += abs(p - phi(distance(j, x)))
        worst = max(worst, total)
    with open(out, "w") as f:
        f.write("// Written by tools/gen_kernel.py: do not edit.\n")
        f.write(f"// The kernel's polynomials, coefficient i of cell j at [i][j] (degree "
                f"{DEGREE}; the\n// first two plus their low parts at [i][j] of the second "
                f"table), and the\n// largest sum over a row of |polynomial - kernel|, "
                f"{float(worst):.3e} on {SAMPLES + 1}\n// offsets, times {MARGIN}.\n")
        f.write("// clang-format off\n")
        f.write(f"inline constexpr int kKernelDegree = {DEGREE};\n")
        f.write(f"inline constexpr double kKernelApproximation = "
                f"{float(worst * MARGIN).hex()};\n")
        f.write(f"alignas(64) inline constexpr double kKernelCoef[{DEGREE + 1}][{WIDTH}] = {{\n")
        for i in range(DEGREE + 1):
            row = [cells[j][i][0].hex() for j in range(WIDTH)]
            f.write("    {" + ",\n     ".join(", ".join(row[k:k + 4])
                                            for k in range(0, WIDTH, 4)) + "},\n")
        f.write("};\n")
        f.write(f"alignas(64) inline constexpr double kKernelCoefLow[2][{WIDTH}] = {{\n")
        for i in range(2):
            row = [cells[j][i][1].hex() for j in range(WIDTH)]
            f.write("    {" + ",\n     ".join(", ".join(row[k:k + 4])
                                            for k in range(0, WIDTH, 4)) + "},\n")
        f.write("};\n// clang-format on\n")


if __name__ == "__main__":
    main()
