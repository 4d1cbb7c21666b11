#include "straightforward.hpp"

#include <cmath>

namespace fasogram::bench {

Straightforward::Straightforward(std::span<const double> t, std::span<const double> x, bool hanning)
    : t_(t), w_(t.size()), wx_(t.size()), ca_(t.size()), sa_(t.size()) {
    const double dospi = 8.0 * std::atan(1.0);
    const std::size_t n = t.size();
    const double span = t[n - 1] - t[0], tau = t[0] + span / 2.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        w_[i] = hanning ? std::cos(dospi * (t[i] - tau) / span) + 1.0 : 1.0;
        sum += w_[i];
    }
    double xcuad = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        w_[i] /= sum;
        wx_[i] = x[i] * w_[i];
        mean_ += wx_[i];
        xcuad += x[i] * wx_[i];
    }
    variance_ = xcuad - mean_ * mean_;
}

StraightFit Straightforward::fosyl(double f) {
    const double dospi = 8.0 * std::atan(1.0);
    double f12 = 0, f13 = 0, f22 = 0, f23 = 0, f33 = 0, f2x = 0, f3x = 0;
    for (std::size_t i = 0; i < t_.size(); ++i) {
        const double al = std::fmod(dospi * t_[i] * f, dospi);
        const double c = ca_[i] = std::cos(al);
        const double s = sa_[i] = std::sin(al);
        const double cap = w_[i] * c, sap = w_[i] * s;
        f12 += cap;
        f13 += sap;
        f22 += c * cap;
        f23 += c * sap;
        f33 += s * sap;
        f2x += wx_[i] * c;
        f3x += wx_[i] * s;
    }
    const double m = mean_;
    const double det =
        (f22 * f33 - f23 * f23) - f12 * (f12 * f33 - f23 * f13) + f13 * (f12 * f23 - f22 * f13);
    StraightFit r;
    r.c1 = (m * (f22 * f33 - f23 * f23) - f12 * (f2x * f33 - f23 * f3x) +
            f13 * (f2x * f23 - f22 * f3x)) /
           det;
    r.c2 = ((f2x * f33 - f23 * f3x) - m * (f12 * f33 - f23 * f13) + f13 * (f12 * f3x - f2x * f13)) /
           det;
    r.c3 = ((f22 * f3x - f2x * f23) - f12 * (f12 * f3x - f2x * f13) + m * (f12 * f23 - f22 * f13)) /
           det;
    double power = 0.0;
    for (std::size_t i = 0; i < t_.size(); ++i) {
        const double y = r.c1 + r.c2 * ca_[i] + r.c3 * sa_[i];
        power += w_[i] * (y * y);
    }
    r.rho = std::fabs((power - m * m) / variance_);
    return r;
}

} // namespace fasogram::bench
