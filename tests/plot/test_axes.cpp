// Axis systems through the recording driver in unrounded page plot units:
// placement and scaling, axes with
// ticks, labels and names, the frame, curves, grid, zero line and titles.
#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "axes/axes.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "test_support.h"
#include "text/text.h"

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {

// A straight piece of a stroke in page plot units.
struct Seg {
    double x1, y1, x2, y2;
    bool operator==(const Seg&) const = default;
    double xmin() const { return std::min(x1, x2); }
    double xmax() const { return std::max(x1, x2); }
    double ymin() const { return std::min(y1, y2); }
    double ymax() const { return std::max(y1, y2); }
    bool horizontal() const { return y1 == y2 && x1 != x2; }
    bool vertical() const { return x1 == x2 && y1 != y2; }
};

class Axes : public PlotixTest {
  protected:
    void SetUp() override {
        PlotixTest::SetUp();
        record();
        start();
    }
    void start() {
        plotix::metafl("GKSL");
        plotix::disini();
        plotix::axspos(400, 1800);
        plotix::axslen(2200, 1600);
        events.clear();
    }
    // The application's y scaling with an x scaling from 0 to 10, step 2.
    void standard_graf() { plotix::graf(0.0f, 10.0f, 0.0f, 2.0f, 0.0f, 1.0f, 0.0f, 0.1f); }
    // Strokes what is pending, returns what reached the driver in page plot
    // units and forgets it.
    std::vector<Event> take() {
        d::qqstrk();
        std::vector<Event> out;
        for (Event e : events) {
            if (e.kind != 'v') continue;
            out.push_back(e);
        }
        events.clear();
        return out;
    }
    static std::vector<Seg> segments(const std::vector<Event>& ev) {
        std::vector<Seg> out;
        for (std::size_t i = 1; i < ev.size(); ++i) {
            if (ev[i].op == 2) out.push_back({ev[i - 1].x, ev[i - 1].y, ev[i].x, ev[i].y});
        }
        return out;
    }
    // The strokes of a text drawn on its own with dtext.
    std::vector<Event> text_strokes(const std::string& text, int x, int y, int angle, int h) {
        d::qqstrk();
        events.clear();
        d::dtext(text, x, y, angle, h);
        return take();
    }
    static bool contains(const std::vector<Event>& all, const std::vector<Event>& part) {
        return !part.empty() &&
               std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
    }
};

} // namespace

TEST_F(Axes, MappingOfUserCoordinates) {
    EXPECT_EQ(plotix::xposn(1.0f), 0.0f); // level 1
    EXPECT_NE(console_text().find(" <<<< Warning   3: Incorrect level in xposn!   (   1)"),
              std::string::npos);
    standard_graf();
    EXPECT_EQ(g.life.level, 2);
    EXPECT_FLOAT_EQ(plotix::xposn(0.0f), 400.0f);
    EXPECT_FLOAT_EQ(plotix::yposn(0.0f), 1800.0f);
    EXPECT_EQ(plotix::nxposn(10.0f), 2599);
    EXPECT_EQ(plotix::nyposn(1.0f), 201);
    EXPECT_FLOAT_EQ(plotix::xposn(5.0f), 1499.5f); // not rounded
    EXPECT_EQ(plotix::nxposn(5.0f), 1500);
    EXPECT_FLOAT_EQ(plotix::yposn(0.5f), 1000.5f);
    EXPECT_EQ(plotix::nxposn(1.0e20f), 2147483647); // saturated, no overflow

    float x[3] = {1.0e9f, -1.0e9f, 10.0f}, y[3] = {0.0f, -1.0e9f, 1.0f};
    d::trfrel(x, y, 3);
    EXPECT_FLOAT_EQ(x[0], 1.0e6f);
    EXPECT_FLOAT_EQ(x[1], -1.0e6f);
    EXPECT_FLOAT_EQ(y[1], 1.0e6f);
    EXPECT_FLOAT_EQ(x[2], 2599.0f);
    EXPECT_FLOAT_EQ(y[2], 201.0f);

    // The clipping window of curves: the inside of the frame.
    EXPECT_EQ(g.axes.clip_left, 401);
    EXPECT_EQ(g.axes.clip_top, 202);
    EXPECT_EQ(g.axes.clip_right, 2598);
    EXPECT_EQ(g.axes.clip_bottom, 1799);
    EXPECT_EQ(console_text(), "");

    // A descending x axis is valid: its left end maps to the left column.
    plotix::disfin();
    console_text();
    start();
    plotix::graf(10.0f, 0.0f, 10.0f, -2.0f, 0.0f, 1.0f, 0.0f, 0.1f);
    EXPECT_EQ(g.life.level, 2);
    EXPECT_EQ(plotix::nxposn(10.0f), 400);
    EXPECT_EQ(plotix::nxposn(0.0f), 2599);
    EXPECT_FLOAT_EQ(g.axes.x.min, 0.0f);
    EXPECT_FLOAT_EQ(g.axes.x.max, 10.0f);
    EXPECT_EQ(console_text().find("Warning"), std::string::npos);
}

TEST_F(Axes, ClippingWindowOfPixelDevicesShrinksByAboutOnePixel) {
    plotix::disfin();
    d::set_driver_factory({});
    plotix::metafl("BMP"); // an image 853 pixels wide: 0.99 / 0.287 rounds to 3
    plotix::disini();
    plotix::axspos(400, 1800);
    plotix::axslen(2200, 1600);
    standard_graf();
    EXPECT_EQ(g.axes.clip_left, 404);
    EXPECT_EQ(g.axes.clip_top, 205);
    EXPECT_EQ(g.axes.clip_right, 2595);
    EXPECT_EQ(g.axes.clip_bottom, 1796);
}

TEST_F(Axes, PlacementAndScalingChecks) {
    // Position and length: wrong values warn with the value and change nothing.
    plotix::axslen(1, 500);
    plotix::axspos(3000, 100);
    plotix::axspos(100, -1);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in axslen!   (   1)\n"
                              " <<<< Warning   2: Incorrect parameter in axspos!   (3000)\n"
                              " <<<< Warning   2: Incorrect parameter in axspos!   (  -1)\n");
    EXPECT_EQ(g.axes.xlen, 2200);
    EXPECT_EQ(g.axes.ylen, 1600);
    EXPECT_EQ(g.axes.xpos, 400);
    EXPECT_EQ(g.axes.ypos, 1800);

    // Equal ends and a zero step are errors: every message, nothing drawn,
    // level 1 again.
    plotix::graf(1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 2.0f, -0.1f);
    EXPECT_EQ(console_text(), " <<<< Warning  10: Begin and end of scaling are equal in graf!\n"
                              " <<<< Warning   9: Step equal zero in graf!\n"
                              " <<<< Warning  12: Startlabel out of scaling in graf!\n"
                              " <<<< Warning  50: Incorrect sign for step in graf!\n");
    EXPECT_EQ(g.life.level, 1);
    EXPECT_TRUE(take().empty());
    // Values that are not finite give no axis system either.
    plotix::graf(0.0f, INFINITY, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 0.1f);
    plotix::graf(0.0f, 1.0f, 0.0f, 0.1f, NAN, 1.0f, 0.0f, 0.1f);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in graf!\n"
                              " <<<< Warning   2: Incorrect parameter in graf!\n");
    EXPECT_EQ(g.life.level, 1);
    EXPECT_TRUE(take().empty());

    // A first label outside the scaling and a step of the wrong sign are
    // only reported; the axis system is drawn.
    plotix::graf(0.0f, 10.0f, -1.0f, 2.0f, 1.0f, 0.0f, 1.0f, 0.1f);
    EXPECT_EQ(console_text(), " <<<< Warning  12: Startlabel out of scaling in graf!\n"
                              " <<<< Warning  50: Incorrect sign for step in graf!\n");
    EXPECT_EQ(g.life.level, 2);
    EXPECT_FALSE(take().empty());

    // One axis system per plot; the placement is fixed once it exists.
    standard_graf();
    plotix::axspos(100, 100);
    plotix::axslen(100, 100);
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in graf!   (   2)\n"
                              " <<<< Warning   3: Incorrect level in axspos!   (   2)\n"
                              " <<<< Warning   3: Incorrect level in axslen!   (   2)\n");
    EXPECT_EQ(g.axes.xpos, 400);
    EXPECT_FLOAT_EQ(g.axes.x.first, -1.0f);

    // disini brings back the defaults.
    plotix::disfin();
    console_text();
    plotix::disini();
    EXPECT_EQ(g.axes.xlen, 1980);
    EXPECT_EQ(g.axes.xpos, 494);
    EXPECT_EQ(g.axes.axis[0].ticks, 2);
}

TEST_F(Axes, LeftAxisTicksAndLabels) {
    plotix::ticks(10, "XY");
    standard_graf();
    const std::vector<Event> all = take();
    const std::vector<Seg> segs = segments(all);

    // Ticks of the left axis: horizontal pieces ending on column 400.
    std::set<double> long_rows;
    int n = 0;
    for (const Seg& s : segs) {
        if (!s.horizontal() || s.xmax() != 400.0) continue;
        if (s.xmin() == 376.0) {
            long_rows.insert(s.y1);
            ++n;
        } else if (s.xmin() == 384.0) {
            ++n;
        }
    }
    EXPECT_EQ(n, 101);
    EXPECT_EQ(long_rows,
              (std::set<double>{201, 361, 521, 681, 841, 1001, 1160, 1320, 1480, 1640, 1800}));

    // Labels 0.0 .. 1.0 right-aligned 48 units left of the axis, centred on
    // their ticks; 0.0 has its top edge at row 1781.
    const int h = 36;
    for (int i = 0; i <= 10; ++i) {
        std::string text;
        plotix::fcha(static_cast<float>(i) * 0.1f, 1, text);
        const int w = plotix::nlmess(text);
        const float v = static_cast<float>(i) * 0.1f;
        const int y = static_cast<int>(1800.0f - 0.5f - v * 1599.0f - 18.0f);
        EXPECT_TRUE(contains(all, text_strokes(text, 352 - w, y, 0, h))) << text;
        if (i == 0) {
            EXPECT_EQ(y, 1781);
        }
    }
}

TEST_F(Axes, LowerAxisLabelsAndBothNames) {
    plotix::ticks(10, "XY");
    plotix::name("frecuencia x 100    ", "X");
    plotix::name("CCE", "y");
    standard_graf();
    const std::vector<Event> all = take();

    // Long ticks of the lower axis every 439.8 plot units, pointing down.
    std::set<double> cols;
    for (const Seg& s : segments(all)) {
        if (s.vertical() && s.ymin() == 1800.0 && s.ymax() == 1824.0) cols.insert(s.x1);
    }
    EXPECT_EQ(cols, (std::set<double>{400, 840, 1280, 1719, 2159, 2599}));

    // Labels centred under their ticks, their top edge 48 units below.
    for (int v = 0; v <= 10; v += 2) {
        std::string text;
        plotix::fcha(static_cast<float>(v), 1, text);
        const float w = static_cast<float>(plotix::nlmess(text));
        const int x = static_cast<int>(400.5f + static_cast<float>(v) * 219.9f - w / 2.0f);
        EXPECT_TRUE(contains(all, text_strokes(text, x, 1848, 0, 36))) << text;
    }
    // The x name 30 units below the labels, centred without its trailing blanks.
    const int lx = plotix::nlmess("frecuencia x 100");
    EXPECT_TRUE(
        contains(all, text_strokes("frecuencia x 100", 400 + (2200 - lx) / 2, 1914, 0, 36)));
    // The y name reads upwards, 30 units beyond the widest label.
    const int wy = plotix::nlmess("0.0");
    const int ly = plotix::nlmess("CCE");
    EXPECT_TRUE(
        contains(all, text_strokes("CCE", 400 - 78 - wy - 36, 1800 - (1600 - ly) / 2, 90, 36)));

    // The upper and right sides carry ticks only: nothing else beyond them
    // (apart from the halves of the end labels of the other axes).
    int right = 0, upper = 0;
    for (const Seg& s : segments(all)) {
        if (s.xmax() > 2599.0 && s.ymax() < 1800.0) {
            ++right;
            EXPECT_TRUE(s.horizontal() && s.xmin() == 2599.0 &&
                        (s.xmax() == 2623.0 || s.xmax() == 2615.0));
        }
        if (s.ymin() < 201.0 && s.xmin() >= 400.0) {
            ++upper;
            EXPECT_TRUE(s.vertical() && s.ymax() == 201.0 &&
                        (s.ymin() == 177.0 || s.ymin() == 185.0));
        }
    }
    EXPECT_EQ(right, 100); // all but the one on row 1800
    EXPECT_EQ(upper, 51);
    // The stored settings are untouched by the reduced sides.
    EXPECT_EQ(g.axes.axis[1].name, "CCE");
    EXPECT_EQ(g.axes.axis[0].name, "frecuencia x 100    ");
    EXPECT_EQ(g.axes.axis[1].label_dist, 24);

    // The frame closes the drawing, solid, on the four axis lines.
    ASSERT_GE(all.size(), 5u);
    EXPECT_EQ(std::vector<Event>(all.end() - 5, all.end()),
              (std::vector<Event>{mv(400, 201), dr(2599, 201), dr(2599, 1800), dr(400, 1800),
                                  dr(400, 201)}));
}

TEST_F(Axes, LabelsAtTheCurrentHeightAndNamesAtTheirOwn) {
    // Labels use the current character height (30 here), names always 36;
    // the current height is unchanged by graf.
    plotix::height(30);
    plotix::ticks(0, "XY");
    plotix::name("tiempo", "X");
    plotix::graf(0.0f, 10.0f, 0.0f, 2.0f, 0.0f, 1.0f, 0.0f, 0.5f);
    std::vector<Event> all = take();
    EXPECT_EQ(g.text.height, 30);
    std::string text;
    plotix::fcha(10.0f, 1, text);
    d::set_height(30);
    const float w = static_cast<float>(plotix::nlmess(text));
    // Without ticks the labels hang 24 below the axis, the name 30 below them.
    EXPECT_TRUE(contains(
        all, text_strokes(text, static_cast<int>(400.5f + 2199.0f - w / 2.0f), 1824, 0, 30)));
    d::set_height(36);
    const int ln = plotix::nlmess("tiempo");
    d::set_height(30);
    EXPECT_TRUE(
        contains(all, text_strokes("tiempo", 400 + (2200 - ln) / 2, 1824 + 30 + 30, 0, 36)));

    // A first label beyond the end of the x axis: no label is drawn, but the
    // name keeps its place one label height below the label row.
    plotix::disfin();
    console_text();
    start();
    plotix::name("tiempo", "X");
    plotix::graf(0.0f, 10.0f, 13.0f, 2.0f, 0.0f, 1.0f, 0.0f, 0.1f);
    EXPECT_EQ(console_text(), " <<<< Warning  12: Startlabel out of scaling in graf!\n");
    all = take();
    // Ticks 24 long, labels 24 beyond them, 36 high, the name 30 further.
    EXPECT_TRUE(
        contains(all, text_strokes("tiempo", 400 + (2200 - ln) / 2, 1800 + 48 + 36 + 30, 0, 36)));
    for (const Event& e : all) EXPECT_TRUE(e.y < 1848.0 || e.y >= 1914.0) << e.x << " " << e.y;
}

TEST_F(Axes, TickCountZeroAndSettersOutsideTheirRange) {
    plotix::ticks(1001, "X");
    plotix::ticks(-1, "X");
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in ticks!   (1001)\n"
                              " <<<< Warning   2: Incorrect parameter in ticks!   (  -1)\n");
    plotix::ticks(0, "qxz"); // only the first three characters count, any case
    plotix::ticks(5, "abcY");
    EXPECT_EQ(g.axes.axis[0].ticks, 0);
    EXPECT_EQ(g.axes.axis[1].ticks, 2);
    EXPECT_EQ(g.axes.axis[2].ticks, 0);
    plotix::name(std::string(140, 'n'), "x");
    EXPECT_EQ(g.axes.axis[0].name.size(), 132u);
    plotix::name("   ", "X"); // only blanks: no name drawn

    plotix::graf(0.0f, 10.0f, 0.0f, 2.0f, 0.0f, 1.0f, 0.0f, 0.1f);
    const std::vector<Event> all = take();
    // No ticks on the lower axis, and its labels 24 units closer.
    for (const Seg& s : segments(all)) EXPECT_FALSE(s.vertical() && s.ymin() == 1800.0);
    std::string text = "0.0";
    const float w = static_cast<float>(plotix::nlmess(text));
    EXPECT_TRUE(
        contains(all, text_strokes(text, static_cast<int>(400.5f - w / 2.0f), 1824, 0, 36)));
    // Nothing below the labels: the blank name draws nothing.
    for (const Event& e : all) EXPECT_LE(e.y, 1824.0 + 36.0);

    // After disfin the setters warn and still store.
    plotix::disfin();
    console_text();
    plotix::ticks(7, "Y");
    plotix::name("late", "Y");
    EXPECT_EQ(g.axes.axis[1].ticks, 7);
    EXPECT_EQ(g.axes.axis[1].name, "late");
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in ticks!   (   0)\n"
                              " <<<< Warning   3: Incorrect level in name!   (   0)\n");
}

TEST_F(Axes, TicksCoverTheAxisBelowTheFirstLabelAndAlternateDirection) {
    plotix::ticks(2, "X");
    plotix::ticks(0, "Y");
    // Labels from 3 in steps of 2 on 0..10: ticks every unit from 0.
    plotix::graf(0.0f, 10.0f, 3.0f, 2.0f, 0.0f, 1.0f, 0.0f, 0.5f);
    const std::vector<Seg> segs = segments(take());
    std::vector<Seg> lower;
    for (const Seg& s : segs) {
        if (s.vertical() && s.ymin() == 1800.0) lower.push_back(s);
    }
    ASSERT_EQ(lower.size(), 11u);
    EXPECT_EQ(lower.front().x1, 400.0);
    EXPECT_EQ(lower.back().x1, 2599.0);
    // Long ticks at the labels 3, 5, 7, 9, short ones elsewhere.
    for (std::size_t i = 0; i < lower.size(); ++i) {
        EXPECT_EQ(lower[i].ymax(), i % 2 == 1 ? 1824.0 : 1816.0) << i;
    }
    // Forwards and backwards in turn.
    for (std::size_t i = 1; i < lower.size(); ++i) {
        EXPECT_NE(lower[i].y1 == 1800.0, lower[i - 1].y1 == 1800.0) << i;
    }
}

TEST_F(Axes, TinyStepAgainstAWideRangeDrawsNoMarks) {
    plotix::ticks(10, "XY");
    plotix::graf(0.0f, 1.0e30f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 0.1f);
    EXPECT_EQ(g.life.level, 2);
    const std::vector<Seg> segs = segments(take());
    int lower = 0;
    for (const Seg& s : segs) lower += s.vertical() && s.ymin() == 1800.0;
    EXPECT_EQ(lower, 0);
    EXPECT_GT(segs.size(), 100u); // the y axis is drawn as usual
}

TEST_F(Axes, CurveIsClippedToTheFrameAndReportsOutsidePoints) {
    standard_graf();
    take();
    plotix::color("GREEN");
    plotix::dash();
    const int green = g.colour.current;
    const float x[] = {-1.0f, 2.0f, 2.0f, 4.0f, 4.0f, 10.0f};
    const float y[] = {0.5f, 0.5f, 1.5f, 1.5f, 0.5f, 0.5f};
    plotix::solid();
    events.clear();
    plotix::curve(x, y, 6);
    // The saved colour is set again after the curve, even though it did not
    // change: the driver's last call is that colour.
    d::qqstrk();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), (Event{'c', 0, 0, green}));
    EXPECT_EQ(
        std::count_if(events.begin(), events.end(), [](const Event& e) { return e.kind == 'c'; }),
        1);
    EXPECT_EQ(console_text(), " <<<< (-1.000000 / 0.500000) out of axis scaling!\n"
                              " <<<< (2.000000 / 1.500000) out of axis scaling!\n"
                              " <<<< (4.000000 / 1.500000) out of axis scaling!\n");
    const float y05 = 1000.5f;
    EXPECT_EQ(take(), (std::vector<Event>{mv(401, y05), dr(839.8f, y05), dr(839.8f, 202),
                                          mv(1279.6f, 202), dr(1279.6f, y05), dr(2598, y05)}));
    // Colour, style and clipping window are as before.
    EXPECT_EQ(g.colour.current, green);
    EXPECT_EQ(g.style.n, 1);
    EXPECT_EQ(g.clip.xmin, 0);
    EXPECT_EQ(g.clip.xmax, 2969);
    EXPECT_EQ(g.clip.ymax, 2099);
    EXPECT_EQ(g.axes.curves, 1);

    // The curve follows the line style, which starts afresh for each curve.
    plotix::dash();
    const float hx[] = {0.0f, 10.0f}, hy[] = {0.5f, 0.5f};
    plotix::curve(hx, hy, 2);
    std::vector<Event> ev = take();
    ASSERT_GE(ev.size(), 4u);
    EXPECT_EQ(ev[0], mv(401, y05));
    EXPECT_EQ(ev[1], dr(410, y05)); // the first dash, clipped at the frame
    EXPECT_EQ(ev[2], mv(420, y05));
    EXPECT_EQ(g.style.n, 2);
    EXPECT_EQ(g.style.phase, 0);
    EXPECT_EQ(g.style.index, 1);
}

TEST_F(Axes, CurveReportFormatsAndSilence) {
    standard_graf();
    take();
    const float x[] = {10.0f, 2.0e6f, 5.0f, 12.5f};
    const float y[] = {1.0f, 0.5f, -3.0e-7f, 3.0f};
    plotix::curve(x, y, 4);
    EXPECT_EQ(console_text(), " <<<< (  2.0000e+06 / 0.500000) out of axis scaling!\n"
                              " <<<< (5.000000 / -3.0000e-07) out of axis scaling!\n"
                              " <<<< (12.500000 / 3.000000) out of axis scaling!\n");
    EXPECT_EQ(g.count.warnings, 0); // the report lines are no warnings
    g.msg.unit = 0;                 // messages off
    plotix::curve(x, y, 4);
    EXPECT_EQ(console_text(), "");
    EXPECT_FALSE(take().empty());
}

TEST_F(Axes, CurveWithoutEnoughPoints) {
    const float x[] = {1.0f, 2.0f}, y[] = {0.5f, 0.5f};
    plotix::curve(x, y, 2); // level 1
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in curve!   (   1)\n");
    standard_graf();
    take();
    plotix::curve(x, y, 1);
    plotix::curve(nullptr, nullptr, 0);
    plotix::curve(x, y, -5);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in curve!\n"
                              " <<<< Warning   2: Incorrect parameter in curve!\n"
                              " <<<< Warning   2: Incorrect parameter in curve!\n");
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(g.axes.curves, 0);
    plotix::curve(x, y, 2); // two points: one segment
    EXPECT_EQ(take(), (std::vector<Event>{mv(619.9f, 1000.5f), dr(839.8f, 1000.5f)}));
    // Values that are not numbers are not reported and draw nothing.
    const float nx[] = {1.0f, NAN, 3.0f}, ny[] = {0.5f, 0.5f, NAN};
    plotix::curve(nx, ny, 3);
    EXPECT_EQ(console_text(), "");
    EXPECT_TRUE(segments(take()).empty());
}

TEST_F(Axes, GridLinesAtTheTickPositions) {
    standard_graf();
    take();
    plotix::grid(1, 1);
    std::vector<Seg> segs = segments(take());
    std::vector<double> cols, rows;
    for (const Seg& s : segs) {
        if (s.vertical() && s.ymin() == 201.0 && s.ymax() == 1800.0) cols.push_back(s.x1);
        if (s.horizontal() && s.xmin() == 400.0 && s.xmax() == 2599.0) rows.push_back(s.y1);
    }
    EXPECT_EQ(segs.size(), 17u);
    EXPECT_EQ(cols, (std::vector<double>{400, 840, 1280, 1719, 2159, 2599}));
    EXPECT_EQ(rows,
              (std::vector<double>{1800, 1640, 1480, 1320, 1160, 1001, 841, 681, 521, 361, 201}));

    plotix::grid(2, 0); // one more line halfway, no horizontal lines
    segs = segments(take());
    EXPECT_EQ(segs.size(), 11u);
    for (const Seg& s : segs) EXPECT_TRUE(s.vertical());
    EXPECT_EQ(segs[1].x1, 620.0);

    plotix::grid(-1, 1);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in grid!   (  -1)\n");
    segs = segments(take());
    EXPECT_EQ(segs.size(), 11u);
    for (const Seg& s : segs) EXPECT_TRUE(s.horizontal());

    // 100 lines per interval, 4.4 units apart: every one of them drawn.
    plotix::grid(100, 0);
    segs = segments(take());
    EXPECT_EQ(segs.size(), 501u);
    // Lines closer than a plot unit: each of the 2200 columns of the axis
    // at most once, however many lines fall on it.
    plotix::grid(10000, 0);
    segs = segments(take());
    std::set<double> columns;
    for (const Seg& s : segs) columns.insert(s.x1);
    EXPECT_EQ(columns.size(), segs.size());
    EXPECT_EQ(*columns.begin(), 400.0);
    EXPECT_EQ(*columns.rbegin(), 2599.0);
    EXPECT_EQ(segs.size(), 2200u);
}

TEST_F(Axes, ZeroLineOnlyInsideTheScaling) {
    plotix::xaxgit(); // level 1
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in axgit!   (   1)\n");
    standard_graf();
    take();
    plotix::xaxgit(); // y from 0 to 1: 0 is an end
    EXPECT_TRUE(take().empty());
    plotix::disfin();
    console_text();
    start();
    plotix::graf(0.0f, 10.0f, 0.0f, 2.0f, -1.0f, 1.0f, -1.0f, 0.5f);
    take();
    plotix::xaxgit();
    EXPECT_EQ(take(), (std::vector<Event>{mv(400, 1000.5f), dr(2599, 1000.5f)}));
    EXPECT_EQ(console_text(), "");
}

TEST_F(Axes, TitleLinesAboveTheAxisSystem) {
    plotix::titlin("Periodograma", 3);
    plotix::titlin("ignored", 5);
    plotix::titlin("ignored", 0);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in titlin!   (   5)\n"
                              " <<<< Warning   2: Incorrect parameter in titlin!   (   0)\n");
    standard_graf();
    take();
    plotix::title();
    const int len = plotix::nlmess("Periodograma");
    const std::vector<Event> drawn = take();
    EXPECT_EQ(drawn, text_strokes("Periodograma", 400 + (2200 - len) / 2, 38, 0, 36));

    // Line 2 underlined, one slot higher than line 3; line 3 stays in place.
    plotix::disfin();
    console_text();
    start();
    plotix::axspos(400, 2000);
    plotix::height(30);
    plotix::titlin("Second", -2);
    plotix::titlin("Third", 3);
    standard_graf();
    take();
    plotix::title();
    const std::vector<Event> all = take();
    const int l2 = plotix::nlmess("Second"), l3 = plotix::nlmess("Third");
    // Top of the axis system 400; h = 30: line 3 at 400 - 45 - 90, line 2 45 higher.
    const int x2 = 400 + (2200 - l2) / 2, x3 = 400 + (2200 - l3) / 2;
    const std::vector<Event> second = text_strokes("Second", x2, 220, 0, 30);
    const std::vector<Event> third = text_strokes("Third", x3, 265, 0, 30);
    EXPECT_TRUE(contains(all, second));
    EXPECT_TRUE(contains(all, third));
    const int yu = static_cast<int>(220 + 1.2 * 30);
    EXPECT_TRUE(contains(all, {mv(x2 - 15, yu), dr(x2 + l2 + 15, yu)}));
    EXPECT_EQ(all.size(), second.size() + third.size() + 2);

    // All four lines empty: nothing drawn, nothing said.
    plotix::disfin();
    console_text();
    start();
    standard_graf();
    take();
    plotix::title();
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(console_text(), "");

    // Outside their levels: title and grid do nothing, titlin still stores.
    plotix::disfin();
    console_text();
    plotix::titlin("Late", -1);
    EXPECT_EQ(g.axes.title[0], "Late");
    EXPECT_TRUE(g.axes.underline[0]);
    start();
    plotix::title();
    plotix::grid(1, 1);
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in titlin!   (   0)\n"
                              " <<<< Warning   3: Incorrect level in title!   (   1)\n"
                              " <<<< Warning   3: Incorrect level in grid!   (   1)\n");
    EXPECT_TRUE(take().empty());
}
