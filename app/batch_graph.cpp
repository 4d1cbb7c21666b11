// The spectrum graph of a batch run, drawn for publication.
#include "batch_graph.hpp"

#include "graph_labels.hpp"
#include "messages.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <plotix.h>

namespace fasogram {

namespace {

std::string printed(const char* format, const std::string& value) {
    const int n = std::snprintf(nullptr, 0, format, value.c_str());
    std::string out(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, value.c_str());
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    return out;
}

// The axis from lo to hi exactly, its labels where the nice scale of the
// range puts them.
struct DrawnAxis {
    float a, e, first, step;
    int digits;
};

DrawnAxis exact_axis(double lo, double hi) {
    const AxisScale s = nice_axis(lo, hi);
    const double first = std::ceil(lo / s.step - 1e-9) * s.step;
    return {static_cast<float>(lo), static_cast<float>(hi), static_cast<float>(first),
            static_cast<float>(s.step), s.digits};
}

} // namespace

std::string unit_name(const std::string& time_unit) {
    static const std::pair<const char*, const char*> names[] = {{"d", "day"},      {"h", "hour"},
                                                                {"min", "minute"}, {"s", "second"},
                                                                {"yr", "year"},    {"y", "year"}};
    if (time_unit.empty()) return _(graph_text::frequency_any_unit);
    for (const auto& [unit, name] : names) {
        if (time_unit == unit) return _(name);
    }
    return time_unit;
}

std::string default_xlabel(const GraphStyle& style) {
    if (style.period_axis) {
        return style.time_unit.empty() ? std::string(_(graph_text::period_no_unit))
                                       : printed(_(graph_text::period_label), style.time_unit);
    }
    return printed(_(graph_text::frequency_label), unit_name(style.time_unit));
}

std::string default_ylabel() {
    return _(graph_text::rho_label);
}

AxisScale nice_axis(double lo, double hi) {
    const double raw = (hi - lo) / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / power;
    const double step = (m < 1.5 ? 1.0 : m < 3.5 ? 2.0 : m < 7.5 ? 5.0 : 10.0) * power;
    AxisScale s;
    s.step = step;
    s.start = std::floor(lo / step + 1e-9) * step;
    s.end = std::ceil(hi / step - 1e-9) * step;
    s.digits = step >= 1.0 ? -1 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    return s;
}

std::pair<double, double> y_range(const GraphStyle& style, const PlotArrays& curve, double top) {
    if (style.ylim) return *style.ylim;
    if (!(top > 0.0 && top <= 1.0)) top = 0.0;
    for (float c : curve.coy) {
        if (std::isfinite(c)) top = std::max(top, static_cast<double>(c));
    }
    if (!(top > 0.0)) return {0.0, 1.0};
    // A little room above the highest point, ending on a label.
    const AxisScale s = nice_axis(0.0, std::min(1.0, top * 1.05));
    return {0.0, std::min(1.0, s.end)};
}

std::string peak_label(const Peak& peak, const std::string& time_unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4g", peak.period);
    std::string out = text;
    if (!time_unit.empty()) out += " " + time_unit;
    return out;
}

std::string fap_label(double probability) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%g", probability * 100.0);
    return printed(_(graph_text::fap_level_label), percent);
}

std::vector<int> label_lefts(const std::vector<int>& tops, const std::vector<int>& widths,
                             int right, int height) {
    constexpr int gap = 30; // between two labels side by side
    std::vector<std::size_t> order(tops.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&tops](std::size_t a, std::size_t b) { return tops[a] < tops[b]; });
    std::vector<int> lefts(tops.size(), 0);
    std::vector<std::size_t> placed;
    for (const std::size_t i : order) {
        int left = right - widths[i];
        // Move left past every placed label this one would cover, until none.
        for (bool moved = true; moved;) {
            moved = false;
            for (const std::size_t j : placed) {
                const bool rows_meet = std::abs(tops[i] - tops[j]) < height;
                const bool columns_meet =
                    left < lefts[j] + widths[j] + gap && lefts[j] < left + widths[i] + gap;
                if (rows_meet && columns_meet) {
                    left = lefts[j] - gap - widths[i];
                    moved = true;
                }
            }
        }
        lefts[i] = left;
        placed.push_back(i);
    }
    return lefts;
}

BatchGraph::BatchGraph(PlotArrays curve, double f_ini, double f_fin, GraphStyle style,
                       std::vector<Peak> peaks, std::vector<FapLine> levels)
    : curve_(std::move(curve)), f_ini_(f_ini), f_fin_(f_fin), style_(std::move(style)),
      peaks_(std::move(peaks)), levels_(std::move(levels)) {}

void BatchGraph::draw(const GraphPage& page) const {
    // The curve against frequency or period, its values kept inside the y
    // range (a fixed --ylim may cut the peaks).
    double top_level = 0.0;
    for (const FapLine& level : levels_) top_level = std::max(top_level, level.rho);
    const auto [ylo, yhi] = y_range(style_, curve_, top_level);
    std::vector<float> xs, ys;
    xs.reserve(curve_.cox.size());
    ys.reserve(curve_.coy.size());
    for (std::size_t i = 0; i < curve_.cox.size() && i < curve_.coy.size(); ++i) {
        const float f = curve_.cox[i];
        float x = f;
        if (style_.period_axis) {
            if (!(f > 0.0f)) continue;
            x = 1.0f / f;
        }
        const float c = std::isfinite(curve_.coy[i]) ? curve_.coy[i] : 0.0f;
        xs.push_back(x);
        ys.push_back(std::clamp(c, static_cast<float>(ylo), static_cast<float>(yhi)));
    }
    double xlo = f_ini_, xhi = f_fin_;
    if (style_.period_axis) {
        if (xs.empty()) {
            xlo = 0.0;
            xhi = 1.0;
        } else {
            const auto [mn, mx] = std::minmax_element(xs.begin(), xs.end());
            xlo = *mn;
            xhi = *mx;
        }
    }
    if (!(xhi > xlo)) xhi = xlo + 1.0;
    const DrawnAxis xa = exact_axis(xlo, xhi);
    const AxisScale ya = nice_axis(ylo, yhi);

    plotix::metafl(page.keyword);
    if (!page.file.empty()) plotix::setfil(page.file);
    plotix::shwfil(page.shown_file);
    if (page.before_start) page.before_start();
    plotix::disini();
    if (page.page) page.page();
    if (style_.stamp) plotix::paghdr(graph_text::stamp_heading, "", 1, 1);

    plotix::complx();
    plotix::height(40);
    plotix::axspos(450, 1800);
    plotix::axslen(2200, 1500);
    plotix::name(style_.xlabel.value_or(default_xlabel(style_)), "X");
    plotix::name(style_.ylabel.value_or(default_ylabel()), "Y");
    plotix::labdig(xa.digits, "X");
    plotix::labdig(ya.digits, "Y");
    plotix::ticks(5, "XY");
    const float first_y = static_cast<float>(std::ceil(ylo / ya.step - 1e-9) * ya.step);
    plotix::graf(xa.a, xa.e, xa.first, xa.step, static_cast<float>(ylo), static_cast<float>(yhi),
                 first_y, static_cast<float>(ya.step));
    if (style_.title && !style_.title->empty()) {
        plotix::titlin(*style_.title, 3);
        plotix::title();
    }

    plotix::color(page.curve_colour);
    plotix::lintyp(0);
    if (xs.size() >= 2) plotix::curve(xs.data(), ys.data(), static_cast<int>(xs.size()));
    plotix::color("FORE");

    // The false-alarm levels: dashed across the axis, labelled above their
    // right end (levels close together get their labels side by side).
    std::vector<std::string> texts;
    std::vector<int> tops, widths;
    const int axis_left = plotix::nxposn(xa.a), axis_right = plotix::nxposn(xa.e);
    for (const FapLine& level : levels_) {
        if (!(level.rho >= ylo && level.rho <= yhi)) continue;
        const int y = plotix::nyposn(static_cast<float>(level.rho));
        plotix::lintyp(2);
        plotix::line(axis_left, y, axis_right, y);
        plotix::lintyp(0);
        texts.push_back(fap_label(level.probability));
        tops.push_back(std::max(0, y - 40 - 8));
        widths.push_back(plotix::nlmess(texts.back()));
    }
    const std::vector<int> lefts = label_lefts(tops, widths, axis_right - 10, 40 + 8);
    for (std::size_t i = 0; i < texts.size(); ++i) plotix::messag(texts[i], lefts[i], tops[i]);

    // Each marked peak's period, centred just above the peak.
    const std::size_t marked = std::min(style_.mark_peaks, peaks_.size());
    for (std::size_t k = 0; k < marked; ++k) {
        const Peak& p = peaks_[k];
        const double x = style_.period_axis ? p.period : p.frequency;
        if (!(x >= xlo && x <= xhi && p.rho >= ylo && p.rho <= yhi)) continue;
        const std::string text = peak_label(p, style_.time_unit);
        const int px = plotix::nxposn(static_cast<float>(x)) - plotix::nlmess(text) / 2;
        const int py = std::max(0, plotix::nyposn(static_cast<float>(p.rho)) - 40 - 16);
        plotix::messag(text, px, py);
    }
    plotix::disfin();
}

} // namespace fasogram
