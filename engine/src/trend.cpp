// The polynomial trend of a series: weighted least squares in Legendre
// polynomials of the centred and scaled time, solved by Householder QR in
// extended precision.
#include "multifit_internal.hpp"

#include <cmath>

namespace fasogram {

namespace {

// P_0(u) .. P_degree(u).
void legendre(double u, int degree, long double* out) {
    out[0] = 1;
    if (degree >= 1) out[1] = u;
    for (int k = 1; k < degree; ++k)
        out[k + 1] =
            ((2 * k + 1) * static_cast<long double>(u) * out[k] - k * out[k - 1]) / (k + 1);
}

} // namespace

double Trend::operator()(double t) const {
    if (degree < 0) return 0.0;
    const double u = (t - centre) / scale;
    long double p0 = 1, p1 = u, sum = coefficients[0];
    if (degree >= 1) sum += coefficients[1] * p1;
    for (int k = 1; k < degree; ++k) {
        const long double p2 = ((2 * k + 1) * static_cast<long double>(u) * p1 - k * p0) / (k + 1);
        sum += coefficients[static_cast<std::size_t>(k + 1)] * p2;
        p0 = p1;
        p1 = p2;
    }
    return static_cast<double>(sum);
}

Trend fit_trend(std::span<const double> t, std::span<const double> y, std::span<const double> sigma,
                Window window, int degree) {
    using detail::multi::bad;
    detail::multi::check_window(window);
    if (degree < 0 || degree > max_trend_degree)
        bad("the degree of a trend must be from 0 to " + std::to_string(max_trend_degree));
    const detail::multi::WeightedSeries p = detail::multi::weigh_series(t, y, sigma, window, false);
    const auto m = static_cast<std::size_t>(degree + 1);
    Trend trend;
    trend.degree = degree;
    trend.centre = p.t_ref;
    trend.scale = 0.5 * p.span;

    // The rows sqrt(w_i) [P_0(u_i) .. P_D(u_i) | y_i] of the points that
    // carry weight.
    std::vector<std::vector<long double>> rows;
    for (std::size_t i = 0; i < p.t.size(); ++i) {
        if (p.w[i] == 0.0) continue;
        std::vector<long double> row(m + 1);
        const long double sw = std::sqrt(static_cast<long double>(p.w[i]));
        legendre((p.t[i] - trend.centre) / trend.scale, degree, row.data());
        for (std::size_t j = 0; j < m; ++j) row[j] *= sw;
        row[m] = sw * p.y[i];
        rows.push_back(std::move(row));
    }
    if (rows.size() < m)
        throw SeriesError(SeriesError::Kind::too_few_points,
                          "a trend of degree " + std::to_string(degree) + " needs at least " +
                              std::to_string(m) + " points that carry weight");
    // Householder QR, column by column, applied to the values as well.
    const std::size_t n = rows.size();
    std::vector<long double> diag(m);
    long double first_norm = 0;
    for (std::size_t j = 0; j < m; ++j) {
        long double norm = 0;
        for (std::size_t i = j; i < n; ++i) norm += rows[i][j] * rows[i][j];
        norm = std::sqrt(norm);
        if (j == 0) first_norm = norm;
        // A column left with nothing of its own: the times cannot tell the
        // polynomials apart.
        if (!(norm > 1e-12L * first_norm))
            bad("a trend of degree " + std::to_string(degree) + " needs at least " +
                std::to_string(m) + " distinct times that carry weight");
        const long double alpha = rows[j][j] > 0 ? -norm : norm;
        std::vector<long double> v(n - j);
        for (std::size_t i = j; i < n; ++i) v[i - j] = rows[i][j];
        v[0] -= alpha;
        long double vv = 0;
        for (const long double x : v) vv += x * x;
        diag[j] = alpha;
        if (vv == 0) continue;
        for (std::size_t c = j + 1; c <= m; ++c) {
            long double dot = 0;
            for (std::size_t i = j; i < n; ++i) dot += v[i - j] * rows[i][c];
            const long double f = 2 * dot / vv;
            for (std::size_t i = j; i < n; ++i) rows[i][c] -= f * v[i - j];
        }
    }
    std::vector<long double> x(m);
    for (std::size_t j = m; j-- > 0;) {
        long double v = rows[j][m];
        for (std::size_t c = j + 1; c < m; ++c) v -= rows[j][c] * x[c];
        x[j] = v / diag[j];
    }
    trend.coefficients.resize(m);
    for (std::size_t j = 0; j < m; ++j) trend.coefficients[j] = static_cast<double>(x[j]);
    return trend;
}

} // namespace fasogram
