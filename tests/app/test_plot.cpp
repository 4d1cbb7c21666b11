// The spectrum graph: scale factor and axis name, the data as drawn, and one
// plotting cycle seen through the plotting state and a recording driver.
#include "messages.hpp"
#include "plot_spectrum.hpp"
#include "test_support.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "common/support.hpp"

#include "core/format.h"
#include "core/state.h"
#include "drivers/driver.h"

namespace fasogram {
namespace {

using plotix::detail::g;

TEST(PlotArrays, FollowThePointsWithoutACap) {
    std::vector<double> t, x;
    for (int i = 0; i < 30; ++i) {
        t.push_back(i + 0.37 * std::sin(7.0 * i));
        x.push_back(std::sin(2.0 * t.back()));
    }
    std::vector<SpectrumPoint> points;
    const PlotArrays plot =
        compute_spectrum(SpectrumEngine(t, x, Window::square), FrequencyGrid{0.01, 1.0, 12000, 0.0},
                         [&](const SpectrumPoint& p) { points.push_back(p); });
    ASSERT_EQ(points.size(), 12001u);
    ASSERT_EQ(plot.cox.size(), 12001u);
    ASSERT_EQ(plot.coy.size(), 12001u);
    for (std::size_t k : {0u, 9999u, 10000u, 12000u}) {
        EXPECT_EQ(plot.cox[k], static_cast<float>(points[k].f));
        EXPECT_EQ(plot.coy[k], static_cast<float>(points[k].rho));
    }
}
using testing::PlotConsole;
using testing::ScratchDir;
using testing::WorkingDir;

// sha256sum of the graph of SavedGraph.KeepsItsBytesInEveryFormat.
constexpr const char* kSavedGraphDigests =
    "30cfc17dce47c5a574b4ab553012c619a3aa565a6254041fcc3f7c5bde84edd7  fasogram.bmp\n"
    "d50d479e88cd0c23af7e5c7380ec8f9c1c7a3d11fac4d047d8a54ca38b305f8c  fasogram.tif\n"
    "f9191ca048012300a57976e6461f37cd3ae78068b8e8a7c575163805fdfb3db4  fasogram.ps\n"
    "df0cc92171da0ffc23e69bb309496177a35a5e7823edd4c890f1c105556afa36  fasogram.pdf\n";

TEST(FrequencyScale, FirstMatchingRowOfTheTable) {
    struct Row {
        float f_fin;
        float factor;
        const char* label;
    };
    const Row rows[] = {
        {0.5f, 100.0f, "frequency x 100     "}, {12.0f, 1.0f, "frequency           "},
        {5e-7f, 1e8f, "frequency x 1e8     "},  {5e-6f, 1e7f, "frequency x 1e7     "},
        {5e-5f, 1e6f, "frequency x 1e6     "},  {5e-4f, 1e5f, "frequency x 1e5     "},
        {0.005f, 1e4f, "frequency x 1e4     "}, {0.05f, 1000.0f, "frequency x 1000    "},
        {1.0f, 10.0f, "frequency x 10      "},  {10.0f, 1.0f, "frequency           "},
        {-3.0f, 1e8f, "frequency x 1e8     "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.f_fin);
        const FrequencyScale scale = frequency_scale(row.f_fin);
        EXPECT_EQ(scale.factor, row.factor);
        EXPECT_EQ(scale.label, row.label);
    }
    // The scaled final frequency lies in [10, 100) from 1e-6 up to 10.
    for (float f = 1e-6f; f < 10.0f; f *= 1.37f) {
        const float scaled = f * frequency_scale(f).factor;
        EXPECT_GE(scaled, 9.9999f) << f;
        EXPECT_LT(scaled, 100.0f) << f;
    }
}

TEST(ScaledCurve, FrequenciesScaledAndTinyCoefficientsZero) {
    const PlotArrays curve{{0.1f, 0.2f, 0.3f, 0.4f}, {0.5f, 1e-13f, -0.25f, 1e-12f}};
    const PlotArrays drawn = scaled_curve(curve, 100.0f);
    EXPECT_EQ(drawn.cox,
              (std::vector<float>{0.1f * 100.0f, 0.2f * 100.0f, 0.3f * 100.0f, 0.4f * 100.0f}));
    EXPECT_EQ(drawn.coy, (std::vector<float>{0.5f, 0.0f, 0.0f, 1e-12f}));
}

TEST(SaveChoices, KeywordsAndFileNames) {
    EXPECT_EQ(output_keyword(Output::screen), "CONS");
    EXPECT_EQ(output_keyword(Output::bmp), "BMP");
    EXPECT_EQ(output_keyword(Output::tiff), "TIFF");
    EXPECT_EQ(output_keyword(Output::ps), "PS");
    EXPECT_EQ(output_keyword(Output::pdf), "PDF");
    EXPECT_EQ(output_file(Output::bmp), "fasogram.bmp");
    EXPECT_EQ(output_file(Output::tiff), "fasogram.tif");
    EXPECT_EQ(output_file(Output::ps), "fasogram.ps");
    EXPECT_EQ(output_file(Output::pdf), "fasogram.pdf");
}

// What the driver of a cycle received: page fills and vertices in device
// units (plot units rounded on the screen, where the recorder's scale is 1).
struct Seen {
    std::vector<int> fills;
    std::vector<std::pair<double, double>> vertices;
    std::vector<int> colours;                     // colour indices in the order they came
    std::vector<std::pair<double, double>> green; // vertices drawn in the curve's colour
    int current = -1;
};

// A recording driver described as the device it stands for; pen positions
// in rounded plot units.
struct Recorder final : plotix::detail::Driver {
    Recorder(Seen* seen, const plotix::detail::DeviceInfo& info) : seen_(seen), info_(info) {}
    const plotix::detail::DeviceInfo& info() const override { return info_; }
    void begin(const std::string& file) override { file_ = file; }
    float scale() const override { return 1.0f; }
    std::string file() const override { return file_; }
    void pen(float x, float y, plotix::detail::PenOp) override {
        const double px = plotix::detail::rnd(x), py = plotix::detail::rnd(y);
        seen_->vertices.emplace_back(px, py);
        if (seen_->current == g.colour.named[2]) seen_->green.emplace_back(px, py);
    }
    void colour(int index, plotix::detail::Rgb) override {
        seen_->colours.push_back(index);
        seen_->current = index;
    }
    bool box(float, float, float, float, int index, plotix::detail::Rgb) override {
        seen_->fills.push_back(index);
        return true;
    }

  private:
    Seen* seen_;
    plotix::detail::DeviceInfo info_;
    std::string file_;
};

class GraphCycle : public ::testing::Test {
  protected:
    void SetUp() override {
        plotix::detail::set_driver_factory([this](int device) {
            seen = Seen{};
            return std::make_unique<Recorder>(&seen, plotix::detail::make_driver(device)->info());
        });
    }
    void TearDown() override { plotix::detail::set_driver_factory({}); }

    ScratchDir dir;
    WorkingDir here{dir.path()};
    PlotConsole console;
    Seen seen;
    PlotArrays curve{{0.1f, 0.2f, 0.3f}, {0.5f, 1e-13f, 0.5f}};
};

TEST_F(GraphCycle, SettingsOfTheScreenCycle) {
    SpectrumGraph graph(curve, 0.0, 0.5);
    graph.draw(Output::screen);
    EXPECT_EQ(g.life.level, 0);
    EXPECT_EQ(g.out.keyword, "CONS");
    EXPECT_EQ(g.out.device, 80);
    EXPECT_EQ(seen.fills, (std::vector<int>{4}));
    // Axis system.
    EXPECT_EQ(g.axes.xpos, 400);
    EXPECT_EQ(g.axes.ypos, 1800);
    EXPECT_EQ(g.axes.xlen, 2200);
    EXPECT_EQ(g.axes.ylen, 1600);
    EXPECT_EQ(g.axes.x.a, 0.0f);
    EXPECT_EQ(g.axes.x.e, 50.0f);
    EXPECT_EQ(g.axes.x.first, 0.0f);
    EXPECT_EQ(g.axes.x.step, 5.0f);
    EXPECT_EQ(g.axes.y.a, 0.0f);
    EXPECT_EQ(g.axes.y.e, 1.0f);
    EXPECT_EQ(g.axes.y.step, 0.1f);
    EXPECT_EQ(g.axes.axis[0].name, "frequency x 100     ");
    EXPECT_EQ(g.axes.axis[1].name, "SCC");
    EXPECT_EQ(g.axes.axis[0].ticks, 10);
    EXPECT_EQ(g.axes.axis[1].ticks, 10);
    EXPECT_EQ(g.axes.title[2], "Periodogram");
    EXPECT_EQ(g.axes.curves, 1);
    EXPECT_EQ(g.text.family, 3); // the complex font
    // The last settings: green, dashed.
    EXPECT_EQ(g.colour.current, g.colour.named[2]);
    EXPECT_EQ(g.style.type, 2);

    // The green curve: the coefficient 1e-13 is drawn as 0, so the curve
    // dips at x = 20 (column 1279.6) below the clipping window, whose bottom
    // row it meets twice; everything else stays above it.
    const double bottom = g.axes.clip_bottom;
    std::vector<double> cut;
    ASSERT_FALSE(seen.green.empty());
    for (const auto& [x, y] : seen.green) {
        EXPECT_LE(y, bottom);
        if (y == bottom) cut.push_back(x);
    }
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_NEAR(cut[0], 1279.6, 2.0);
    EXPECT_NEAR(cut[1], 1279.6, 2.0);
    EXPECT_LT(cut[0], cut[1]);
    // The curve is solid: three points give a handful of vertices.
    EXPECT_LE(seen.green.size(), 6u);
    // The colour is green for the curve and set again right after it.
    ASSERT_GE(seen.colours.size(), 2u);
    EXPECT_EQ(seen.colours[seen.colours.size() - 1], g.colour.named[2]);
    EXPECT_EQ(seen.colours[seen.colours.size() - 2], g.colour.named[2]);
    // The grid is dotted: its line at y = 0.1 (row 1640) is broken into many
    // pieces across the axis system.
    int on_row = 0;
    for (const auto& [x, y] : seen.vertices) on_row += y == 1640.0 && x > 400.0 && x < 2599.0;
    EXPECT_GT(on_row, 40);
    EXPECT_NE(console.text().find("Warnings: 0         Fileformat: CONS"), std::string::npos);
}

TEST_F(GraphCycle, FrequencyAxisStartsDifferOnScreenAndInFiles) {
    // f_ini 0.05, f_fin 0.5: 5 on the screen, 0 in a file, and 0 afterwards.
    SpectrumGraph graph(curve, 0.05, 0.5);
    graph.draw(Output::screen);
    EXPECT_EQ(g.axes.x.a, 5.0f);
    EXPECT_EQ(g.axes.x.first, 5.0f);
    EXPECT_EQ(g.axes.x.step, 4.5f);
    graph.draw(Output::ps);
    EXPECT_EQ(g.axes.x.a, 0.0f);
    EXPECT_EQ(g.axes.x.step, 5.0f);
    EXPECT_EQ(graph.axis_start(), 0.0f);
    graph.draw(Output::screen);
    EXPECT_EQ(g.axes.x.a, 0.0f);

    // Starts at or above the thresholds stay.
    SpectrumGraph high(curve, 0.15, 0.5);
    high.draw(Output::screen);
    high.draw(Output::pdf);
    EXPECT_FLOAT_EQ(g.axes.x.a, 15.0f);
    SpectrumGraph low(curve, 0.009, 0.5); // 0.9 on the screen
    low.draw(Output::screen);
    EXPECT_EQ(g.axes.x.a, 0.0f);
    SpectrumGraph negative(curve, -0.2, 0.5);
    negative.draw(Output::screen);
    EXPECT_EQ(g.axes.x.a, 0.0f);
    EXPECT_EQ(g.axes.x.step, 5.0f);
}

TEST_F(GraphCycle, PostScriptAndPdfFillThePageTwice) {
    SpectrumGraph graph(curve, 0.0, 0.5);
    graph.draw(Output::ps);
    EXPECT_EQ(seen.fills, (std::vector<int>{4, 0}));
    EXPECT_EQ(g.out.keyword, "PS");
    EXPECT_EQ(g.out.filename, "fasogram.ps");
    graph.draw(Output::pdf);
    EXPECT_EQ(seen.fills, (std::vector<int>{4, 0}));
    EXPECT_EQ(g.out.filename, "fasogram.pdf");
    graph.draw(Output::bmp);
    EXPECT_EQ(seen.fills, (std::vector<int>{4}));
    EXPECT_EQ(g.out.keyword, "BMP");
    graph.draw(Output::tiff);
    EXPECT_EQ(seen.fills, (std::vector<int>{4}));
    EXPECT_EQ(g.out.keyword, "TIFF");
}

TEST_F(GraphCycle, EmptyCurveDrawsTheAxesAndWarns) {
    SpectrumGraph graph(PlotArrays{}, 0.0, 0.5);
    graph.draw(Output::screen);
    EXPECT_EQ(g.axes.x.e, 50.0f);
    EXPECT_EQ(g.axes.curves, 0);
    EXPECT_GT(seen.vertices.size(), 1000u); // axes, labels, grid
    EXPECT_NE(console.text().find(" <<<< Warning   2: Incorrect parameter in curve!\n"),
              std::string::npos);
}

// The saved graph of a fixed curve, with the test clock, in each of the four
// formats: its bytes are those recorded (sha256) when the output was last
// meant to change.
TEST(SavedGraph, KeepsItsBytesInEveryFormat) {
    // The dialogue's graph: its labels in Spanish, as the dialogue draws it.
    const SpanishMessages spanish;
    ScratchDir dir;
    WorkingDir here{dir.path()};
    PlotConsole console;
    PlotArrays curve;
    for (int i = 0; i <= 400; ++i) {
        const float f = 0.5f * static_cast<float>(i) / 400.0f;
        curve.cox.push_back(f);
        curve.coy.push_back(0.5f + 0.45f * std::sin(97.0f * f) * std::cos(13.0f * f));
    }
    SpectrumGraph graph(curve, 0.0, 0.5);
    for (Output o : {Output::bmp, Output::tiff, Output::ps, Output::pdf}) graph.draw(o);
    std::string sums;
    ASSERT_EQ(test_common::run_command("cd '" + dir.path().string() +
                                           "' && sha256sum fasogram.bmp fasogram.tif "
                                           "fasogram.ps fasogram.pdf",
                                       sums),
              0)
        << sums;
    EXPECT_EQ(sums, kSavedGraphDigests);
}

} // namespace
} // namespace fasogram
