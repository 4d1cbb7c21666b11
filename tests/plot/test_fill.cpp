// Boxes, polygons, shading patterns and the page fill on the recording
// driver and in the PostScript, plotter, printer and applet outputs.
#include <algorithm>
#include <climits>
#include <cmath>

#include "pipeline/pipeline.h"
#include "pipeline/style.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {

class Fill : public RecordingTest {
  protected:
    void square(float x1, float y1, float x2, float y2) {
        const float x[4] = {x1, x2, x2, x1}, y[4] = {y1, y1, y2, y2};
        d::dareaf(x, y, 4);
    }
};

Event box(double x1, double y1, double x2, double y2, int clr) {
    return {'b', x1, y1, clr, x2, y2};
}

// The drawing commands after the placement line of a PostScript file.
std::string body(const std::string& file) {
    auto lines = split_lines(read_file(file));
    std::string out;
    for (std::size_t i = 86; i < lines.size(); ++i) out += lines[i];
    return out;
}

} // namespace

TEST_F(Fill, BoxesAreClampedToTheWindow) {
    plotix::line(0, 0, 10, 0); // pending: drawn before the box on this device
    d::dbox(-10, -10, 100, 50, 3);
    EXPECT_EQ(events, (std::vector<Event>{mv(0, 0), dr(10, 0), box(0, 0, 100, 50, 3)}));
    EXPECT_EQ(g.colour.current, 255); // unchanged
    events.clear();
    d::dbox(100, 0, 50, 50, 3);    // x1 > x2
    d::dbox(0, 60, 10, 50, 3);     // y1 > y2
    d::dbox(3000, 0, 3100, 50, 3); // right of the page
    d::dbox(0, -90, 10, -1, 3);    // above it
    d::dbox(NAN, 0, 10, 10, 3);    // no position
    EXPECT_TRUE(events.empty());
    d::dbox(0, 0, 9, 9, 300);
    d::dbox(2000, 2000, 1e30f, 1e30f, 1);
    g.pen.ox = 100; // relative to the origin offset
    d::dbox(0, 0, 10, 10, 2);
    EXPECT_EQ(events, (std::vector<Event>{box(0, 0, 9, 9, 300), box(2000, 2000, 2969, 2099, 1),
                                          box(100, 0, 110, 10, 2)}));
}

TEST_F(PlotixTest, PostScriptBoxGoesAheadOfPendingLines) {
    plotix::metafl("PS");
    plotix::setfil("box.ps");
    plotix::disini();
    plotix::line(100, 100, 500, 100);
    d::dbox(0, 0, 2969, 2099, 4);
    plotix::disfin();
    // Landscape: the numbers are y1, x1, y2, x2 at 1.857143 device units per
    // plot unit; entry 4 of the rainbow is (47, 0, 94).
    EXPECT_EQ(body("box.ps"), "0 0 0 f 0 0 3898 5514 47 0 94 e 186 186 u 186 929 d p showpage ");

    g.page.basew = 2099.0f; // portrait: x1, H - y2, x2, H - y1
    g.page.baseh = 2969.0f;
    plotix::metafl("POST");
    plotix::disini();
    d::dbox(10, 20, 110, 220, 2);
    plotix::disfin();
    EXPECT_EQ(body("box_1.ps"), "0 0 0 f 19 5105 204 5477 253 253 253 e showpage ");
}

TEST_F(PlotixTest, PlotterAndMetafileBoxesAreZigZags) {
    plotix::metafl("HPGL");
    plotix::disini();
    d::dbox(0, 0, 10, 3, 5); // lines 1.4 plot units apart
    EXPECT_EQ(g.colour.current, 5);
    plotix::disfin();
    EXPECT_EQ(read_file("plotix.hpg"), " SP1;\nSP255;SP5;PU0,8396;PD40,8396;PD40,8390;PD0,8390;"
                                       "PD0,8385;PD40,8385;PU0,0;\n");
    plotix::disini();
    d::dbox(0, 0, 10, 3, 256); // a refused colour: the zig-zag in the current one
    plotix::disfin();
    EXPECT_NE(console_text().find("Warning   2: Incorrect parameter in setclr!   ( 256)"),
              std::string::npos);
    EXPECT_EQ(read_file("plotix_1.hpg"),
              " SP1;\nSP255;PU0,8396;PD40,8396;PD40,8390;PD0,8390;PD0,8385;PD40,8385;PU0,0;\n");
}

TEST_F(PlotixTest, PrinterAndAppletBoxes) {
    plotix::metafl("KYOC");
    plotix::disini();
    d::dbox(100, 100, 200, 150, 13); // pattern row 3
    d::dbox(100, 100, 200, 150, 10); // row 0: nothing
    plotix::disfin();
    std::string kyo = read_file("plotix.kyo");
    std::erase(kyo, '\n');
    EXPECT_EQ(kyo, "MAP  118, 118; FPAT 170, 68,170,  0,170,  4,170,  0; BLK  119,  60;RES;EXIT;");

    plotix::metafl("JAVA");
    plotix::disini();
    d::dbox(0, 0, 100, 50, 5); // painted in its own colour
    plotix::disfin();
    std::string java = read_file("plotix.java");
    EXPECT_NE(java.find("  g.setColor (new Color (51,0,102));\n  g.fillRect (0,0,30,15);\n"),
              std::string::npos)
        << java;
}

TEST_F(Fill, PageFillRestoresTheColour) {
    plotix::setclr(5);
    events.clear();
    plotix::pagfll(4);
    EXPECT_EQ(events, (std::vector<Event>{box(0, 0, 2969, 2099, 4), Event{'c', 0, 0, 5}}));
    EXPECT_EQ(g.colour.current, 5);
    plotix::disfin();
    console_text();
    plotix::pagfll(4);
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in pagfll!   (   0)\n");
}

TEST_F(PlotixTest, PageFillInPostScript) {
    plotix::metafl("PS");
    plotix::setfil("page.ps");
    plotix::disini();
    plotix::color("RED");
    plotix::pagfll(300); // taken modulo 256 like every box colour: entry 44
    plotix::disfin();
    EXPECT_EQ(body("page.ps"), "0 0 0 f 255 0 0 f 0 0 3898 5514 0 54 255 e 255 0 0 f showpage ");
    EXPECT_EQ(console_text().find("<<<< Warning"), std::string::npos);
}

TEST_F(Fill, PolygonsOutlinedAndFilled) {
    const int x[3] = {10, 50, 50}, y[3] = {10, 10, 40};
    plotix::areaf(x, y, 3); // no hatching by default: the outline only
    d::qqstrk();
    EXPECT_EQ(events, (std::vector<Event>{mv(10, 10), dr(50, 10), dr(50, 40), dr(10, 10)}));
    events.clear();
    plotix::shdpat(16); // solid: one polygon to the screen
    plotix::areaf(x, y, 3);
    EXPECT_EQ(events, (std::vector<Event>{mv(10, 10), dr(50, 10), dr(50, 40), dr(10, 10),
                                          Event{'p', 10, 10, 3}, Event{'p', 50, 10, 3},
                                          Event{'p', 50, 40, 3}}));
    events.clear();
    g.page.lowerleft = 1; // y measured from the bottom of the page
    plotix::areaf(x, y, 3);
    EXPECT_EQ(events[0], mv(10, 2089));
    g.page.lowerleft = 0;

    events.clear();
    console_text();
    plotix::areaf(x, y, 2);
    plotix::areaf(x, y, -5);
    plotix::areaf(nullptr, y, 3);
    plotix::areaf(x, y, INT_MAX);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in areaf!   (   2)\n"
                              " <<<< Warning   2: Incorrect parameter in areaf!   (  -5)\n"
                              " <<<< Warning   2: Incorrect parameter in areaf!   (   3)\n"
                              " <<<< Warning  53: Not enough memory in areaf!\n");
    d::qqstrk();
    EXPECT_TRUE(events.empty());
}

TEST_F(PlotixTest, SolidPolygonInPostScript) {
    plotix::metafl("PS");
    plotix::setfil("poly.ps");
    plotix::disini();
    plotix::shdpat(16);
    plotix::color("RED");
    const int x[4] = {100, 200, 200, 100}, y[4] = {100, 100, 200, 200};
    plotix::areaf(x, y, 4);
    plotix::disfin();
    // The fill is written at once; the outline, still waiting in the open
    // path, follows it and so lies on top.
    EXPECT_EQ(body("poly.ps"), "0 0 0 f 255 0 0 f 186 186 u 186 371 d 371 371 d 371 186 d "
                               "186 186 d eofill 186 186 u 186 371 d 371 371 d 371 186 d "
                               "186 186 d p showpage ");
}

TEST_F(Fill, PolygonsThatLeaveTheWindowAreHatched) {
    plotix::shdpat(16);
    square(-10, 0, 100, 50); // solid, but not inside the window
    auto p = pieces();
    for (const Event& e : events) EXPECT_NE(e.kind, 'p');
    ASSERT_EQ(p.size(), 26u); // lines 1.9999 apart from y = 0 to 49.9975
    for (std::size_t i = 0; i < p.size(); ++i) {
        EXPECT_EQ(p[i].x1, 0); // clipped at the window
        EXPECT_EQ(p[i].x2, 100);
        EXPECT_EQ(p[i].y1, std::trunc(i * 1.9999 + 0.5));
        EXPECT_EQ(p[i].y2, p[i].y1);
    }
}

TEST_F(Fill, HatchAngleSpacingGroupsAndCross) {
    plotix::mypat(45, 1, 1, 0); // 45 degrees, 6.9999 apart
    square(0, 0, 100, 100);
    auto p = pieces();
    std::vector<double> offsets; // distance of each line from the origin
    for (const Piece& q : p) {
        for (double c : {q.x1, q.y1, q.x2, q.y2}) {
            EXPECT_GE(c, -1);
            EXPECT_LE(c, 101);
        }
        if (std::hypot(q.x2 - q.x1, q.y2 - q.y1) > 40) {
            // Rising to the right as seen on the page (y grows downwards).
            EXPECT_NEAR((q.y2 - q.y1) / (q.x2 - q.x1), -1.0, 0.1);
        }
        offsets.push_back((q.x1 + q.y1) / std::sqrt(2.0));
    }
    ASSERT_GE(p.size(), 19u);
    ASSERT_LE(p.size(), 21u);
    for (std::size_t i = 1; i < offsets.size(); ++i) {
        EXPECT_NEAR(offsets[i] - offsets[i - 1], 6.9999, 1.0) << i;
    }

    events.clear();
    plotix::mypat(0, 2, 1, 0); // 20 apart, groups of 2 drawn and 1 skipped
    square(0, 0, 100, 100);
    std::vector<double> ys;
    for (const Piece& q : pieces()) ys.push_back(q.y1);
    EXPECT_EQ(ys, (std::vector<double>{0, 20, 60, 80}));

    events.clear();
    plotix::mypat(0, 1, 3, 1); // crossed: horizontal and vertical lines 16.9999 apart
    square(5, 5, 105, 105);
    std::vector<double> horizontal, vertical;
    for (const Piece& q : pieces()) {
        if (q.y1 == q.y2 && q.x1 == 5 && q.x2 == 105) horizontal.push_back(q.y1);
        if (q.x1 == q.x2 && std::fabs(q.y2 - q.y1) == 100) vertical.push_back(q.x1);
    }
    const std::vector<double> at{17, 34, 51, 68, 85, 102};
    EXPECT_EQ(horizontal, at);
    EXPECT_EQ(vertical, at);

    // From 90 degrees on the crossing lines are the mirror image, at
    // 180 - angle: 120 is crossed by 60, not by 30. On the page (y down) a
    // line at angle a has the slope -tan(a).
    events.clear();
    plotix::mypat(120, 1, 3, 1);
    square(0, 0, 200, 200);
    int steep_up = 0, steep_down = 0, other = 0;
    for (const Piece& q : pieces()) {
        if (std::hypot(q.x2 - q.x1, q.y2 - q.y1) < 60) continue; // short corner pieces
        const double slope = (q.y2 - q.y1) / (q.x2 - q.x1);
        if (std::fabs(slope - std::sqrt(3.0)) < 0.1) {
            ++steep_up; // 120 degrees
        } else if (std::fabs(slope + std::sqrt(3.0)) < 0.1) {
            ++steep_down; // 60 degrees
        } else {
            ++other;
        }
    }
    EXPECT_GT(steep_up, 5);
    EXPECT_GT(steep_down, 5);
    EXPECT_EQ(other, 0);

    // At 90 degrees the mirror would repeat the vertical lines: the
    // horizontal ones cross them.
    events.clear();
    plotix::mypat(90, 1, 3, 1);
    square(5, 5, 105, 105);
    horizontal.clear();
    vertical.clear();
    for (const Piece& q : pieces()) {
        if (q.y1 == q.y2 && q.x1 == 5 && q.x2 == 105) horizontal.push_back(q.y1);
        if (q.x1 == q.x2 && std::fabs(q.y2 - q.y1) == 100) vertical.push_back(q.x1);
    }
    EXPECT_EQ(horizontal, at);
    EXPECT_EQ(vertical.size(), at.size());
}

TEST_F(Fill, HatchStyleIsRestored) {
    plotix::dash();
    plotix::mypat(0, 5, 1, 0); // type 5 hatches with long dots
    square(0, 0, 100, 30);
    auto p = pieces();
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p[0].x1, 0);
    EXPECT_EQ(p[0].x2, 1); // the first dot of a hatch line
    EXPECT_EQ(g.style.type, 2);
    EXPECT_EQ(g.style.n, 2);
    EXPECT_EQ(g.style.pattern[0], 10);
}

TEST_F(Fill, ShadingPatternsAsDrawn) {
    // The rows of the horizontal lines a pattern draws in the square
    // 0..100 (the outline is not part of the fill).
    auto rows = [this](int pattern_or_code) {
        events.clear();
        plotix::shdpat(pattern_or_code);
        square(0, 0, 100, 100);
        std::vector<double> out;
        for (const Piece& q : pieces()) {
            if (q.y1 == q.y2) out.push_back(q.y1);
        }
        return out;
    };
    auto columns = [this] {
        std::vector<double> out;
        for (const Piece& q : pieces()) {
            if (q.x1 == q.x2) out.push_back(q.x1);
        }
        return out;
    };
    // No fill by default: areaf draws the outline only.
    events.clear();
    const int x[4] = {0, 100, 100, 0}, y[4] = {0, 0, 100, 100};
    plotix::areaf(x, y, 4);
    EXPECT_EQ(pieces().size(), 4u);

    // Pattern 14: crossed lines one plot unit apart in groups of 8 drawn and
    // 29 skipped.
    std::vector<double> grouped;
    for (int k = 0; k <= 100; ++k) {
        if (k % 37 < 8) grouped.push_back(k);
    }
    EXPECT_EQ(rows(14), grouped);
    std::vector<double> cross = columns();
    std::sort(cross.begin(), cross.end());
    EXPECT_EQ(cross, grouped);

    // Type 2 (code 211: 0 degrees, density 1, crossed): 20 apart, groups of 2
    // drawn and 1 skipped.
    EXPECT_EQ(rows(211), (std::vector<double>{0, 20, 60, 80}));
    // Type 3: 15 apart, groups of 3 drawn and density 2 skipped.
    events.clear();
    plotix::mypat(0, 3, 2, 0);
    square(0, 0, 100, 100);
    std::vector<double> ys;
    for (const Piece& q : pieces()) ys.push_back(q.y1);
    EXPECT_EQ(ys, (std::vector<double>{0, 15, 30, 75, 90}));
    // Type 1 (pattern 10, code 151): 5 times the density + 1.9999 apart.
    EXPECT_EQ(rows(10), (std::vector<double>{0, 27, 54, 81}));
    events.clear();

    console_text();
    plotix::shdpat(-3);
    plotix::shdpat(200000);
    plotix::mypat(180, 8, 10, 2);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in shdpat!   (  -3)\n"
                              " <<<< Warning   2: Incorrect parameter in shdpat!   ( 200)\n"
                              " <<<< Warning   2: Incorrect parameter in mypat!   ( 180)\n"
                              " <<<< Warning   2: Incorrect parameter in mypat!   (   2)\n"
                              " <<<< Warning   2: Incorrect parameter in mypat!   (   8)\n"
                              " <<<< Warning   2: Incorrect parameter in mypat!   (  10)\n");
    // Refused patterns leave the last one in force.
    EXPECT_EQ(rows(211).size(), 4u);

    // The next plot starts without hatching.
    plotix::disfin();
    plotix::disini();
    events.clear();
    plotix::areaf(x, y, 4);
    EXPECT_EQ(pieces().size(), 4u);
    plotix::disfin();
}

TEST_F(PlotixTest, WindowsMetafileHatchesDensityZeroFiner) {
    // The same pattern on two devices: 1.9999 plot units apart on the
    // screen, 0.39999 for the metafile.
    record();
    auto lines = [this](const char* format) {
        plotix::metafl(format);
        plotix::disini();
        plotix::mypat(0, 1, 0, 0);
        events.clear();
        const float x[4] = {0, 10, 10, 0}, y[4] = {0, 0, 2, 2};
        d::dareaf(x, y, 4);
        d::qqstrk();
        std::vector<double> ys;
        for (const Event& e : events) {
            if (e.kind == 'v' && e.op == static_cast<int>(d::PenOp::move)) ys.push_back(e.y);
        }
        plotix::disfin();
        return ys;
    };
    EXPECT_EQ(lines("CONS"), (std::vector<double>{0, 2}));
    const std::vector<double> fine = lines("WMF");
    ASSERT_EQ(fine.size(), 6u);
    for (std::size_t i = 0; i < fine.size(); ++i) EXPECT_NEAR(fine[i], 0.39999 * i, 1e-4);
}
