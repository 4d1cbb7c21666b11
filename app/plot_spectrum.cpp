// The spectrum graph: the curve, its frequency scale and the plotting cycle.
#include "plot_spectrum.hpp"

#include "messages.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>

#include <plotix.h>

namespace fasogram {

PlotArrays compute_spectrum(const SpectrumEngine& engine, const FrequencyGrid& grid,
                            const std::function<void(const SpectrumPoint&)>& on_point,
                            unsigned threads, Digits digits) {
    PlotArrays plot;
    engine.run(
        grid,
        [&](const SpectrumPoint& point) {
            on_point(point);
            plot.cox.push_back(static_cast<float>(point.f));
            plot.coy.push_back(static_cast<float>(point.rho));
        },
        threads, digits);
    return plot;
}

std::string grid_problem(const FrequencyGrid& grid, const SpectrumEngine& engine) {
    try {
        check_grid(grid, engine.largest_time());
        return {};
    } catch (const std::invalid_argument&) {
    }
    const double t_max = engine.largest_time();
    const double f_max = std::max(std::fabs(grid.f_ini), std::fabs(grid.f_fin));
    if (std::isfinite(f_max) && !(f_max * t_max < 0x1p1000 && std::isfinite(4.0 * f_max)))
        return _("frequencies too high for the times of the series (|t*f| must be below 2^1000)");
    if (!std::isfinite(grid.step())) return _("the frequency range is too wide");
    return _("invalid frequency grid");
}

namespace {

struct ScaleRow {
    float below; // the row applies when f_fin is below this
    float factor;
    const char* label;
};

constexpr ScaleRow scale_rows[] = {
    {1e-6f, 1e8f, "frequency x 1e8"},  {1e-5f, 1e7f, "frequency x 1e7"},
    {1e-4f, 1e6f, "frequency x 1e6"},  {0.001f, 1e5f, "frequency x 1e5"},
    {0.01f, 1e4f, "frequency x 1e4"},  {0.1f, 1000.0f, "frequency x 1000"},
    {1.0f, 100.0f, "frequency x 100"}, {10.0f, 10.0f, "frequency x 10"},
};

constexpr std::size_t label_width = 20;

} // namespace

FrequencyScale frequency_scale(float f_fin) {
    FrequencyScale scale{1.0f, "frequency"};
    for (const ScaleRow& row : scale_rows) {
        if (f_fin < row.below) {
            scale = {row.factor, row.label};
            break;
        }
    }
    scale.label.resize(label_width, ' ');
    return scale;
}

PlotArrays scaled_curve(const PlotArrays& curve, float factor) {
    PlotArrays out = curve;
    for (float& f : out.cox) f *= factor;
    for (float& c : out.coy) {
        if (c < 1e-12f) c = 0.0f;
    }
    return out;
}

std::string_view output_keyword(Output output) {
    switch (output) {
    case Output::screen: return "CONS";
    case Output::bmp: return "BMP";
    case Output::tiff: return "TIFF";
    case Output::ps: return "PS";
    case Output::pdf: return "PDF";
    }
    return "CONS";
}

std::string_view output_file(Output output) {
    switch (output) {
    case Output::bmp: return "fasogram.bmp";
    case Output::tiff: return "fasogram.tif";
    case Output::ps: return "fasogram.ps";
    case Output::pdf: return "fasogram.pdf";
    case Output::screen: break;
    }
    return "";
}

SpectrumGraph::SpectrumGraph(const PlotArrays& curve, double f_ini, double f_fin)
    : scale_(frequency_scale(static_cast<float>(f_fin))), a_(static_cast<float>(f_ini)),
      b_(static_cast<float>(f_fin)) {
    data_ = scaled_curve(curve, scale_.factor);
}

GraphPage dialogue_page(Output output) {
    GraphPage page;
    page.keyword = output_keyword(output);
    page.file = output_file(output);
    page.page = [output] {
        plotix::pagera();
        plotix::pagfll(4);
        if (output == Output::ps || output == Output::pdf) plotix::pagfll(0);
    };
    return page;
}

void SpectrumGraph::draw(Output output) {
    draw(dialogue_page(output));
}

void SpectrumGraph::draw(const GraphPage& page) {
    const bool file = !page.file.empty();
    plotix::metafl(page.keyword);
    if (file) plotix::setfil(page.file);
    plotix::shwfil(page.shown_file);
    if (page.before_start) page.before_start();
    plotix::disini();
    if (page.page) page.page();

    plotix::paghdr("FASOGRAM", "", 1, 1);
    plotix::complx();
    plotix::axspos(400, 1800);
    plotix::axslen(2200, 1600);
    // The label in the messages' language, blank-padded as the scale's.
    std::string x_label = scale_.label;
    x_label.erase(x_label.find_last_not_of(' ') + 1);
    x_label = translate(x_label.c_str());
    x_label.resize(std::max(x_label.size(), scale_.label.size()), ' ');
    plotix::name(x_label, "X");
    plotix::name(_("SCC"), "Y");
    plotix::ticks(10, "XY");
    plotix::titlin(_("Periodogram"), 3);

    const float s = scale_.factor;
    if (a_ * s < (file ? 10.0f : 1.0f)) a_ = 0.0f;
    plotix::graf(a_ * s, b_ * s, a_ * s, (b_ - a_) * s / 10.0f, 0.0f, 1.0f, 0.0f, 0.1f);

    plotix::title();
    plotix::lintyp(1);
    plotix::grid(1, 1);

    plotix::color(page.curve_colour);
    plotix::lintyp(0);
    const int n = static_cast<int>(std::min<std::size_t>(data_.cox.size(), INT_MAX));
    plotix::curve(data_.cox.data(), data_.coy.data(), n);

    plotix::dash();
    plotix::xaxgit();
    plotix::disfin();
}

} // namespace fasogram
