// The double-double sine and cosine table.
#include "dd.hpp"

#include <array>
#include <cstdlib>

namespace fasogram::dd {

namespace {

SinCosTable make_table() {
    SinCosTable t;
    for (int j = 0; j <= 32; ++j) {
        const DD x = kTwoPi * (j / 256.0);
        const DD x2 = x * x;
        DD s = x, c{1.0, 0.0};
        DD term_s = x, term_c{1.0, 0.0};
        for (int n = 1; n < 20; ++n) {
            term_s = -(term_s * x2) / DD{static_cast<double>((2 * n) * (2 * n + 1)), 0.0};
            term_c = -(term_c * x2) / DD{static_cast<double>((2 * n - 1) * (2 * n)), 0.0};
            s = s + term_s;
            c = c + term_c;
        }
        t.entry[static_cast<std::size_t>(j)] = {j == 0 ? DD{1.0, 0.0} : c, j == 0 ? DD{} : s};
    }
    t.inv6 = DD{1.0, 0.0} / DD{6.0, 0.0};
    t.inv120 = DD{1.0, 0.0} / DD{120.0, 0.0};
    t.inv24 = DD{1.0, 0.0} / DD{24.0, 0.0};
    t.inv720 = DD{1.0, 0.0} / DD{720.0, 0.0};
    t.half = DD{0.5, 0.0};
    return t;
}

} // namespace

const SinCosTable& sincos_table() {
    static const SinCosTable t = make_table();
    return t;
}

} // namespace fasogram::dd
