#!/usr/bin/python3
"""Writes engine/src/nufft_stencil_table.inc: the difference stencils the
transforms take the first-order term of each frequency's rounding from.

A grid frequency f_c + m df + delta_m needs, besides the sum A(m) of the
weights c_i at f_c + m df, the sum of c_i u_i there (u_i the time less the
middle one).  With theta_i = 2 pi df u_i and the modes around m turned back
by the middle time's phase, B(m + k) = sum c_i e_i e^{i k theta_i}, so that

    sum_k a_k (B(m + k) - B(m - k)) = sum c_i e_i 2 i sum_k a_k sin(k theta_i)

is i theta_i's sum wherever 2 sum_k a_k sin(k theta) is theta.  For each
reach R the coefficients a_1 .. a_K are fitted to theta on [0, R] by least
squares on Chebyshev points in 50-digit arithmetic (nearly the minimax fit)
and rounded to doubles; the stated bound is the largest |theta - 2 sum a_k
sin(k theta)| of the rounded coefficients on a grid of theta in [0, R], plus
what the function can rise between grid points (h^2/8 times the largest
second derivative on the grid, doubled), times 1.05.  The function is odd,
so the bound holds on [-R, R].

    tools/gen_stencil.py [output]    (mpmath; a few seconds)
"""

import sys

import mpmath as mp

mp.mp.dps = 50
TERMS = 16  # the most terms a stencil has
DESIGNS = [("0.25", 8), ("0.5", 8), ("0.75", 8), ("1.0", 8), ("1.3", 16), ("1.6", 16)]
SAMPLES = 4000
MARGIN = 1.05


def fit(reach, K):
    nodes = 4 * K
    xs = [reach * (1 + mp.cos(mp.pi * (i + mp.mpf(1) / 2) / nodes)) / 2 for i in range(nodes)]
    a = mp.matrix(nodes, K)
    b = mp.matrix(nodes, 1)
    for i, x in enumerate(xs):
        for k in range(1, K + 1):
            a[i, k - 1] = 2 * mp.sin(k * x)
        b[i] = x
    q, r = mp.qr(a)
    y = q.T * b
    return [float(c) for c in mp.lu_solve(r[:K, :K], y[:K, 0])]


def bound(coef, reach):
    h = reach / SAMPLES
    worst, curve = mp.mpf(0), mp.mpf(0)
    for i in range(SAMPLES + 1):
        x = h * i
        e = x - 2 * sum(mp.mpf(c) * mp.sin(k * x) for k, c in enumerate(coef, 1))
        d2 = 2 * sum(mp.mpf(c) * k * k * mp.sin(k * x) for k, c in enumerate(coef, 1))
        worst = max(worst, abs(e))
        curve = max(curve, abs(d2))
    return float((worst + 2 * h * h / 8 * curve) * MARGIN), float(worst)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "engine/src/nufft_stencil_table.inc"
    rows = []
    for r, k in DESIGNS:
        reach = mp.mpf(r)
        coef = fit(reach, k)
        b, sampled = bound(coef, reach)
        rows.append((float(reach), b, sampled, coef + [0.0] * (TERMS - k)))
    with open(out, "w") as f:
        f.write("// Written by tools/gen_stencil.py: do not edit.\n")
        f.write("// Difference stencils of reach R: 2 sum_k a[k-1] sin(k theta) is theta\n")
        f.write("// within `bound` for |theta| <= R, with `terms` coefficients (the rest\n")
        f.write("// zero); the largest found on %d + 1 points:\n" % SAMPLES)
        f.write("// %s.\n" % ", ".join("%.3g" % s for _, _, s, _ in rows))
        f.write("// clang-format off\n")
        f.write("inline constexpr int kStencilTerms = %d;\n" % TERMS)
        f.write("struct StencilDesign {\n    double reach, bound;\n    int terms;\n"
                "    double a[kStencilTerms];\n};\n")
        f.write("inline constexpr StencilDesign kStencils[%d] = {\n" % len(rows))
        for (reach, b, _, coef), (_, k) in zip(rows, DESIGNS):
            f.write("    {%s, %s, %d,\n     {" % (reach.hex(), b.hex(), k))
            f.write(",\n      ".join(", ".join(c.hex() for c in coef[i:i + 4])
                                     for i in range(0, TERMS, 4)) + "}},\n")
        f.write("};\n// clang-format on\n")


if __name__ == "__main__":
    main()
