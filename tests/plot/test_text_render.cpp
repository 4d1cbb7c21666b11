// Text at several heights and angles on a PostScript page, rendered by
// ghostscript: ink lies along each string and nowhere else.
#include <array>
#include <cmath>
#include <string>

#include "common/ppm.hpp"
#include "core/state.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
using test_common::Image;
using test_common::render_with_ghostscript;
namespace d = plotix::detail;
using d::g;

namespace {

struct Label {
    const char* text;
    int x, y, height, angle;
    bool complex;
    double len = 0; // measured after drawing
};

// Position of a page point relative to a label: along its baseline from the
// baseline start, and up from the baseline.
void local(const Label& l, double x, double y, double& along, double& up) {
    const double t = l.angle * 3.14159265358979 / 180;
    const double bx = l.x + (l.height - 1) * std::sin(t), by = l.y + (l.height - 1) * std::cos(t);
    along = (x - bx) * std::cos(t) - (y - by) * std::sin(t);
    up = -(x - bx) * std::sin(t) - (y - by) * std::cos(t);
}

} // namespace

TEST_F(PlotixTest, TextOnAPostScriptPageRendersWhereItShould) {
    Label labels[] = {
        {"Plotix123", 200, 200, 120, 0, false}, {"Vertical", 2600, 1900, 80, 90, false},
        {"Tilted", 800, 1200, 60, 30, false},   {"Down", 2000, 300, 100, 270, false},
        {"Complex", 300, 1700, 90, 0, true},    {"Turned", 2700, 1000, 70, 200, true}};
    plotix::metafl("PS");
    plotix::setfil("text.ps");
    plotix::disini();
    for (Label& l : labels) {
        if (l.complex) plotix::complx();
        plotix::height(l.height);
        plotix::angle(l.angle);
        plotix::messag(l.text, l.x, l.y);
        l.len = plotix::nlmess(l.text);
    }
    plotix::disfin();
    EXPECT_EQ(g.count.warnings, 0);

    const int dpi = 72;
    std::string log;
    ASSERT_TRUE(render_with_ghostscript("text.ps", dpi, "text.pgm", log)) << log;
    Image img;
    ASSERT_TRUE(img.read("text.pgm"));
    ASSERT_EQ(img.width, 595);
    ASSERT_EQ(img.height, 842);

    // The landscape page lies on the portrait paper with plot x upwards and
    // plot y to the right: 0.14173 points per device unit, 3900/2100 device
    // units per plot unit, the placement's scale 1.000476, offset by
    // (150, 200) device units.
    const double k = 0.1417322835 * 1.000476 * 3900.0 / 2100.0;
    const double margin = 3.0 * 72 / dpi / k; // three pixels in plot units
    int counted = 0, stray = 0;
    std::vector<std::array<int, 4>> quarters(std::size(labels), {0, 0, 0, 0});
    for (int r = 0; r < img.height; ++r) {
        for (int c = 0; c < img.width; ++c) {
            if (img.at(c, r).r >= 128) continue; // no ink
            ++counted;
            const double px = (c + 0.5) * 72 / dpi, py = (img.height - r - 0.5) * 72 / dpi;
            const double x = (py - 200 * 0.1417322835) / k, y = (px - 150 * 0.1417322835) / k;
            bool inside = false;
            for (std::size_t i = 0; i < std::size(labels); ++i) {
                const Label& l = labels[i];
                double along, up;
                local(l, x, y, along, up);
                const double cap = l.height - 1.0, desc = 0.45 * cap;
                if (along < -margin || along > l.len + margin || up < -desc - margin ||
                    up > cap + margin)
                    continue;
                inside = true;
                const int q = static_cast<int>(std::floor(4 * along / l.len));
                if (q >= 0 && q < 4) ++quarters[i][q];
            }
            if (!inside) ++stray;
        }
    }
    EXPECT_GT(counted, 1000);
    EXPECT_EQ(stray, 0);
    for (std::size_t i = 0; i < std::size(labels); ++i) {
        for (int q = 0; q < 4; ++q) {
            EXPECT_GT(quarters[i][q], 10) << labels[i].text << " quarter " << q;
        }
    }
}
