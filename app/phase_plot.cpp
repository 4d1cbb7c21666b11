#include "phase_plot.hpp"

#include "messages.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include <plotix.h>

namespace fasogram {

PhaseFold fold_series(const MultiFit& fit, std::size_t k, std::span<const double> t) {
    PhaseFold fold;
    fold.frequency = fit.frequencies.at(k);
    fold.c0 = fit.c0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double cycles = fold.frequency * (t[i] - fit.epoch);
        const auto phase = static_cast<float>(cycles - std::floor(cycles));
        const auto value = static_cast<float>(fit.residuals[i] + fit.component(k, t[i]));
        for (const float shift : {0.0f, 1.0f}) {
            fold.x.push_back(std::min(phase, 0.99999994f) + shift);
            fold.y.push_back(value);
        }
    }
    constexpr int samples = 400;
    for (int j = 0; j <= samples; ++j) {
        const double phase = 2.0 * j / samples;
        fold.curve_x.push_back(static_cast<float>(phase));
        fold.curve_y.push_back(
            static_cast<float>(fit.component(k, fit.epoch + phase / fold.frequency)));
    }
    return fold;
}

namespace {

std::string number(double value, int digits) {
    char buffer[64];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits)
            .ptr;
    return std::string(buffer, end);
}

// A label step of 1, 2 or 5 times a power of ten for five to ten intervals.
double nice_step(double range) {
    const double raw = range / 8.0;
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (m * decade >= raw) return m * decade;
    return 10.0 * decade;
}

} // namespace

void draw_phase_plot(const PhaseFold& fold, const GraphPage& page) {
    // The labels carry one decimal: the values are scaled by the power of
    // ten that puts their range between 1 and 10.
    float lo = 0.0f, hi = 0.0f;
    for (const auto* v : {&fold.y, &fold.curve_y}) {
        if (v->empty()) continue;
        const auto [a, b] = std::minmax_element(v->begin(), v->end());
        lo = std::min(lo, *a);
        hi = std::max(hi, *b);
    }
    double range = static_cast<double>(hi) - lo;
    if (!(range > 0.0)) range = 1.0;
    int exponent = static_cast<int>(std::floor(std::log10(range)));
    exponent = std::clamp(exponent, -30, 30);
    const double factor = std::pow(10.0, -exponent);
    const double step = nice_step(range * factor);
    const double ya = std::floor(lo * factor / step) * step;
    const double ye = std::ceil(hi * factor / step) * step;

    const bool file = !page.file.empty();
    plotix::metafl(page.keyword);
    if (file) plotix::setfil(page.file);
    if (page.before_start) page.before_start();
    plotix::disini();
    if (page.page) page.page();

    plotix::paghdr("FASOGRAM", "", 1, 1);
    plotix::complx();
    plotix::axspos(400, 1800);
    plotix::axslen(2200, 1500);
    plotix::name(_("phase (cycles)"), "X");
    plotix::name(exponent == 0 ? std::string(_("value - C0"))
                               : _("(value - C0) x 1e") + std::to_string(-exponent),
                 "Y");
    plotix::ticks(5, "XY");
    plotix::titlin(_("Phase curve"), 2);
    plotix::titlin("f = " + number(fold.frequency, 10) + "   P = " +
                       number(1.0 / fold.frequency, 10) + "   C0 = " + number(fold.c0, 8),
                   4);
    plotix::graf(0.0f, 2.0f, 0.0f, 0.5f, static_cast<float>(ya), static_cast<float>(ye),
                 static_cast<float>(ya), static_cast<float>(step));
    plotix::title();

    // The points: crosses of 2 x 9 plot units.
    plotix::color("FORE");
    plotix::solid();
    constexpr int arm = 9;
    for (std::size_t i = 0; i < fold.x.size(); ++i) {
        const int px = plotix::nxposn(fold.x[i]);
        const int py = plotix::nyposn(static_cast<float>(fold.y[i] * factor));
        plotix::line(px - arm, py, px + arm, py);
        plotix::line(px, py - arm, px, py + arm);
    }
    std::vector<float> cy(fold.curve_y.size());
    for (std::size_t j = 0; j < cy.size(); ++j)
        cy[j] = static_cast<float>(fold.curve_y[j] * factor);
    // The model over the points, drawn seven times a plot unit apart so that
    // it stands out of them.
    plotix::color(page.curve_colour);
    const int n = static_cast<int>(std::min<std::size_t>(fold.curve_x.size(), INT_MAX));
    const double unit = (ye - ya) / 1500.0;
    std::vector<float> shifted(cy.size());
    for (int k = -3; k <= 3; ++k) {
        for (std::size_t j = 0; j < cy.size(); ++j)
            shifted[j] = static_cast<float>(std::clamp(cy[j] + k * unit, ya, ye));
        plotix::curve(fold.curve_x.data(), shifted.data(), n);
    }
    plotix::color("FORE");
    plotix::disfin();
}

} // namespace fasogram
