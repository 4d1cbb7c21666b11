#include "spectrum_reference.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <cmath>

namespace fasogram::reference {

Reference::Reference(std::span<const double> t, std::span<const double> x, bool hanning)
    : Reference(t, x, {}, hanning) {}

Reference::Reference(std::span<const double> t, std::span<const double> x,
                     std::span<const double> sigma, bool hanning)
    : t_(t.begin(), t.end()), h_(t.size()), xc_(t.size()) {
    const quad lo = *std::min_element(t.begin(), t.end());
    const quad hi = *std::max_element(t.begin(), t.end());
    const quad span = hi - lo, mid = (lo + hi) / 2;
    for (std::size_t i = 0; i < t.size(); ++i) {
        h_[i] = hanning ? 1 + cosq(2 * M_PIq * ((quad)t[i] - mid) / span) : 1;
        if (!sigma.empty()) h_[i] /= (quad)sigma[i] * (quad)sigma[i];
        sum_ += h_[i];
        mean_ += h_[i] * x[i];
    }
    mean_ /= sum_;
    for (std::size_t i = 0; i < t.size(); ++i) {
        xc_[i] = (quad)x[i] - mean_;
        var_ += h_[i] * xc_[i] * xc_[i];
    }
    var_ /= sum_;
}

Point Reference::fit(double f) const {
    const std::size_t n = t_.size();
    std::vector<quad> c(n), s(n);
    quad a[3][4] = {};
    quad phases[3];
    int distinct = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const quad tf = (quad)t_[i] * f; // exact: 106 bits fit in 113
        quad r = tf - roundq(tf);
        if (r < 0) r += 1;
        if (h_[i] > 1e-25Q) {
            bool seen = false;
            for (int k = 0; k < distinct; ++k) seen = seen || phases[k] == r;
            if (!seen && distinct < 3) phases[distinct++] = r;
        }
        c[i] = cosq(2 * M_PIq * r);
        s[i] = sinq(2 * M_PIq * r);
        const quad basis[3] = {1, c[i], s[i]};
        for (int p = 0; p < 3; ++p) {
            for (int q = 0; q < 3; ++q) a[p][q] += h_[i] * basis[p] * basis[q];
            a[p][3] += h_[i] * xc_[i] * basis[p];
        }
    }
    Point out;
    if (distinct <= 2) {
        out.singular = true;
        return out;
    }
    // Gaussian elimination with partial pivoting.
    int order[3] = {0, 1, 2};
    for (int col = 0; col < 3; ++col) {
        int best = col;
        for (int r = col + 1; r < 3; ++r)
            if (fabsq(a[order[r]][col]) > fabsq(a[order[best]][col])) best = r;
        std::swap(order[col], order[best]);
        for (int r = col + 1; r < 3; ++r) {
            const quad k = a[order[r]][col] / a[order[col]][col];
            for (int q = col; q < 4; ++q) a[order[r]][q] -= k * a[order[col]][q];
        }
    }
    quad sol[3];
    for (int r = 2; r >= 0; --r) {
        quad v = a[order[r]][3];
        for (int q = r + 1; q < 3; ++q) v -= a[order[r]][q] * sol[q];
        sol[r] = v / a[order[r]][r];
    }
    quad power = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const quad y = sol[0] + sol[1] * c[i] + sol[2] * s[i];
        power += h_[i] * y * y;
    }
    out.c1 = mean_ + sol[0];
    out.c2 = sol[1];
    out.c3 = sol[2];
    out.rho = power / sum_ / var_;
    return out;
}

bool rounds_to(const std::string& printed, quad exact) {
    if (printed == table_field(static_cast<double>(exact))) return true;
    const quad d = fabsq(exact) * 1e-11Q;
    const std::string below = table_field(static_cast<double>(exact - d));
    const std::string above = table_field(static_cast<double>(exact + d));
    return below != above && (printed == below || printed == above);
}

std::string table_field(double value) {
    char buf[64];
    if (std::isnan(value))
        std::snprintf(buf, sizeof buf, "%15s", "NaN");
    else if (std::isinf(value))
        std::snprintf(buf, sizeof buf, "%15s", value < 0 ? "-Infinity" : "Infinity");
    else {
        char e[40];
        std::snprintf(e, sizeof e, "%.7e", value == 0.0 ? 0.0 : value); // d.ddddddde+XX
        char* x = std::strchr(e, 'e');
        const int exponent = std::atoi(x + 1);
        *x = '\0';
        if (exponent <= -100 || exponent >= 100)
            std::snprintf(
                buf, sizeof buf, "%15s",
                (std::string(e) + (exponent < 0 ? "-" : "+") + std::to_string(std::abs(exponent)))
                    .c_str());
        else
            std::snprintf(buf, sizeof buf, "%11sE%c%02d", e, exponent < 0 ? '-' : '+',
                          std::abs(exponent));
    }
    return buf;
}

std::string to_string(quad v) {
    char buf[64];
    quadmath_snprintf(buf, sizeof buf, "%.20Qe", v);
    return buf;
}

} // namespace fasogram::reference
