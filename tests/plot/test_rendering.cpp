// The example program's PostScript page rendered by ghostscript: colours of
// the filled areas and the on/off rhythm of the line styles, read from the
// pixels.
#include <cstdlib>

#include "common/ppm.hpp"
#include "test_support.h"

#ifndef PLOTIX_STYLES_EXAMPLE
#error "PLOTIX_STYLES_EXAMPLE must name the example program"
#endif

using namespace plotix_test;
using namespace test_common;

namespace {

constexpr double kDpi = 144.0;
// The page goes onto A4 paper turned: plot y runs across the paper from the
// left margin (150 device units), plot x up from the bottom margin (200
// device units), at 1.857143 device units per plot unit, 0.1417323 points
// per device unit and the placement scale 1.000476.
constexpr double kPointsPerUnit = 1.857143 * 0.1417322835 * 1.000476;
int column(double y) {
    return int((150 * 0.1417322835 + kPointsPerUnit * y) * kDpi / 72.0);
}
int row(double x) {
    return int((842.0 - 200 * 0.1417322835 - kPointsPerUnit * x) * kDpi / 72.0);
}

// The part of a line at plot height y between plot x 300 and 2600 that is
// drawn, and the number of drawn runs.
void rhythm(const Image& img, double y, double& fraction, int& runs) {
    const int c = column(y);
    int on = 0, total = 0;
    bool last = false;
    runs = 0;
    for (int r = row(2600); r <= row(300); ++r) {
        bool any = false;
        for (int dc = -3; dc <= 3; ++dc) any = any || dark(img.at(c + dc, r));
        on += any;
        ++total;
        if (any && !last) ++runs;
        last = any;
    }
    fraction = double(on) / total;
}

} // namespace

TEST_F(PlotixTest, ExampleRendersColoursAndLineStyles) {
    const std::string run = std::string(PLOTIX_STYLES_EXAMPLE) + " >example.log 2>&1";
    ASSERT_EQ(std::system(run.c_str()), 0) << read_file("example.log");
    ASSERT_TRUE(std::filesystem::exists("styles_colours.ps")) << read_file("example.log");
    std::string log;
    ASSERT_TRUE(render_with_ghostscript("styles_colours.ps", int(kDpi), "page.ppm", log)) << log;
    Image img;
    ASSERT_TRUE(img.read("page.ppm"));
    ASSERT_EQ(img.width, 1190);
    ASSERT_EQ(img.height, 1684);

    // Solid boxes: centres and a point between them.
    EXPECT_EQ(img.at(column(450), row(500)), (Pixel{255, 0, 0}));
    EXPECT_EQ(img.at(column(450), row(1300)), (Pixel{0, 255, 0}));
    EXPECT_EQ(img.at(column(450), row(2100)), (Pixel{0, 0, 255}));
    EXPECT_EQ(img.at(column(450), row(900)), (Pixel{255, 255, 255}));
    EXPECT_EQ(img.at(column(100), row(100)), (Pixel{255, 255, 255}));

    // The hatched box: orange lines on the white page, nothing else.
    int orange = 0, white = 0, other = 0;
    for (int y = 950; y <= 1250; y += 3) {
        for (int x = 250; x <= 750; x += 3) {
            const Pixel p = img.at(column(y), row(x));
            if (p == Pixel{255, 127, 0}) {
                ++orange;
            } else if (p == Pixel{255, 255, 255}) {
                ++white;
            } else {
                ++other;
            }
        }
    }
    EXPECT_GT(orange, 500);
    EXPECT_GT(white, 3 * orange);
    EXPECT_EQ(other, 0);

    // Lines in the foreground colour: solid, dashed (10, 10), dotted (1, 10)
    // and chain-dashed (30, 15, 10, 15) over 2300 plot units. The drawn share
    // includes the projecting line ends (0.7 points) and the pixels that the
    // strokes touch.
    double f, dashed;
    int runs;
    rhythm(img, 1500, f, runs);
    EXPECT_GT(f, 0.99);
    EXPECT_EQ(runs, 1);
    rhythm(img, 1650, dashed, runs);
    EXPECT_GT(dashed, 0.55);
    EXPECT_LT(dashed, 0.85);
    EXPECT_NEAR(runs, 2300 / 20, 3);
    rhythm(img, 1800, f, runs);
    EXPECT_GT(f, 0.3);
    EXPECT_LT(f, dashed - 0.1);
    EXPECT_NEAR(runs, 2300 / 11, 3);
    rhythm(img, 1950, f, runs);
    EXPECT_GT(f, 0.55);
    EXPECT_LT(f, 0.85);
    EXPECT_NEAR(runs, 2 * 2300 / 70, 3);
}
