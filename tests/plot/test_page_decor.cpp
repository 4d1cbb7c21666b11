// Page border and page header.
#include <algorithm>
#include <string>

#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {

struct Box {
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
};

class PageDecor : public PlotixTest {
  protected:
    void SetUp() override {
        PlotixTest::SetUp();
        record();
        plotix::metafl("GKSL"); // unrounded plot units
        plotix::disini();
        events.clear();
    }
    // Strokes what is pending and forgets what the driver saw.
    void clear() {
        d::qqstrk();
        events.clear();
    }
    Box ink() {
        d::qqstrk();
        Box b;
        for (const Event& e : events) {
            if (e.kind != 'v') continue;
            const double x = e.x, y = e.y;
            b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x);
            b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
        }
        return b;
    }
};

const char* const kStamp = "05.03.2024, 14:07:09, PLOTIX 8.0 ";

} // namespace

TEST_F(PageDecor, BorderHasItsCornersOnThePageEdges) {
    plotix::pagera();
    d::qqstrk();
    const double h = g.page.height;
    EXPECT_EQ(events, (std::vector<Event>{mv(0, 0), dr(0, h), dr(2969, h), dr(2969, 0), dr(0, 0)}));
    plotix::disfin();
    clear();
    plotix::pagera(); // level 0
    EXPECT_TRUE(events.empty());
    EXPECT_NE(console_text().find("Incorrect level in pagera!"), std::string::npos);
}

TEST_F(PageDecor, HeaderLine) {
    plotix::paghdr("FASOGRAM", "", 1, 1);
    EXPECT_EQ(g.text.buffer, std::string("FASOGRAM ") + kStamp);
    plotix::paghdr("", "", 1, 1); // still a blank and the stamp
    EXPECT_EQ(g.text.buffer, std::string(" ") + kStamp);
    // text2 is appended up to 132 characters while the line has room.
    plotix::paghdr(std::string(97, 'a'), "XYZ", 1, 0);
    EXPECT_EQ(g.text.buffer, std::string(97, 'a') + " " + kStamp + "X");
    plotix::paghdr(std::string(98, 'a'), "XYZ", 1, 0);
    EXPECT_EQ(g.text.buffer, std::string(98, 'a') + " " + kStamp);
    plotix::paghdr("left", "right", 2, 0);
    EXPECT_EQ(g.text.buffer, std::string("left ") + kStamp + "right");
    // text1 keeps only its first 100 characters.
    plotix::paghdr(std::string(100, 'b') + "cut off", "", 1, 0);
    EXPECT_EQ(g.text.buffer, std::string(100, 'b') + " " + kStamp);
    EXPECT_EQ(console_text(), "");
}

TEST_F(PageDecor, CornersAndDirections) {
    const double W = 2969, H = 2099;
    const int h = 21; // 0.6 of 36, truncated
    for (int dir = 0; dir <= 1; ++dir) {
        for (int pos = 1; pos <= 4; ++pos) {
            clear();
            plotix::paghdr("Corner", "test", pos, dir);
            const std::string line = g.text.buffer;
            const Box b = ink();
            plotix::height(h);
            const double len = plotix::nlmess(line);
            plotix::height(36);
            const bool left = pos == 1 || pos == 4, low = pos == 1 || pos == 2;
            // The box the header must lie in: the line's run, its capital
            // height (h - 1) and its descenders (7 glyph units).
            Box e;
            const double across = (h - 1) * 28.0 / 21;
            if (dir == 0) {
                e.x0 = left ? 100 : W - 100 - len;
                e.y0 = low ? H - 15 - h : 15;
                e.x1 = e.x0 + len, e.y1 = e.y0 + across;
            } else {
                e.x0 = left ? 15 : W - 15 - across;
                e.x1 = e.x0 + across;
                e.y0 = low ? H - 100 - len : 100;
                e.y1 = e.y0 + len;
            }
            SCOPED_TRACE("position " + std::to_string(pos) + " direction " + std::to_string(dir));
            EXPECT_GE(b.x0, e.x0 - 0.5);
            EXPECT_LE(b.x1, e.x1 + 0.5);
            EXPECT_GE(b.y0, e.y0 - 0.5);
            EXPECT_LE(b.y1, e.y1 + 0.5);
            // It fills the run and keeps 15 units from the near edge.
            const double run = dir == 0 ? b.x1 - b.x0 : b.y1 - b.y0;
            EXPECT_GT(run, len - 12);
            if (dir == 0) {
                EXPECT_NEAR(low ? H - b.y1 : b.y0, 15 + (low ? 1 : 0), 8);
            } else {
                EXPECT_NEAR(left ? b.x0 : W - b.x1, 15, 0.5);
            }
        }
    }
    EXPECT_EQ(console_text(), "");
}

TEST_F(PageDecor, BadPositionAndDirectionFallBackToOne) {
    plotix::paghdr("seven", "", 7, 0);
    const Box seven = ink();
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in paghdr!   (   7)\n");
    clear();
    plotix::paghdr("seven", "", 1, 0);
    const Box one = ink();
    EXPECT_DOUBLE_EQ(seven.x0, one.x0);
    EXPECT_DOUBLE_EQ(seven.y1, one.y1);

    clear();
    plotix::paghdr("five", "", 1, 5);
    const Box five = ink();
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in paghdr!   (   5)\n");
    EXPECT_LT(five.x1 - five.x0, 40); // vertical
    EXPECT_GT(five.y1 - five.y0, 400);
    EXPECT_EQ(g.count.warnings, 2);
}

TEST_F(PageDecor, HeightAndAngleAreRestored) {
    plotix::height(47);
    plotix::angle(33);
    const float s = g.text.sina, c = g.text.cosa;
    plotix::paghdr("restore", "me", 3, 1);
    EXPECT_EQ(g.text.height, 47);
    EXPECT_EQ(g.text.angle, 33);
    EXPECT_EQ(g.text.sina, s);
    EXPECT_EQ(g.text.cosa, c);
    plotix::messag("A", 500, 500); // and the scales follow the restored height
    EXPECT_FLOAT_EQ(g.text.yscale, 46.0f / 7);
    // A height of 1 stays 1 for the header instead of a refused 0.
    plotix::height(1);
    plotix::paghdr("tiny", "", 1, 0);
    EXPECT_EQ(g.text.height, 1);
    EXPECT_EQ(console_text(), "");
    plotix::disfin();
    console_text();
    plotix::paghdr("late", "", 1, 1);
    EXPECT_NE(console_text().find("Incorrect level in paghdr!"), std::string::npos);
}
