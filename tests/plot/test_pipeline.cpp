// Pen buffer, clipping and dispatch, seen through the recording driver.
#include <cmath>

#include "pipeline/pipeline.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {

class Pipeline : public RecordingTest {
  protected:
    // The strokes the driver saw: the number of points from each move on.
    std::vector<int> strokes() const {
        std::vector<int> out;
        for (const Event& e : events) {
            if (e.kind != 'v') continue;
            if (e.op == 3) {
                out.push_back(1);
            } else if (!out.empty()) {
                ++out.back();
            }
        }
        return out;
    }
};

} // namespace

TEST_F(Pipeline, LongPolylineIsStrokedInBatchesOf100) {
    d::qqmove(0.0f, 0.0f);
    for (int i = 1; i < 250; ++i) d::qqdraw(float(i), float(i % 7));
    d::qqstrk();
    EXPECT_EQ(strokes(), (std::vector<int>{100, 100, 52}));
    // Each continuation starts where the previous stroke ended.
    EXPECT_EQ(events[100], mv(99, 99 % 7));
    EXPECT_EQ(events[200], mv(198, 198 % 7));
    EXPECT_EQ(events.back(), dr(249, 249 % 7));
    EXPECT_EQ(g.count.vectors, 252);
    EXPECT_EQ(g.pen.n, 0);
}

TEST_F(Pipeline, PublicLineGoesThroughThePen) {
    plotix::line(10, 20, 30, 40);
    plotix::line(30, 40, 50, 60);
    plotix::disfin();
    EXPECT_EQ(events,
              (std::vector<Event>{mv(10, 20), dr(30, 40), mv(30, 40), dr(50, 60), Event{'f'}}));
    EXPECT_NE(console_text().find("Vectors : 4 "), std::string::npos);
}

TEST_F(Pipeline, RectangularClipping) {
    d::clip2d(-50, 100, 50, 100);
    EXPECT_EQ(events, (std::vector<Event>{mv(0, 100), dr(50, 100)}));
    events.clear();
    d::clip2d(-50, 100, -10, 500); // both left of the window
    d::clip2d(100, -5, 200, -1);   // both above
    EXPECT_TRUE(events.empty());
    d::clip2d(-100, 1000, 500, 2400); // left to below, through the window
    EXPECT_EQ(events, (std::vector<Event>{mv(0, 1233), dr(371, 2099)}));
    events.clear();
    d::clip2d(-100, 2000, 100, 2300); // left to below, missing the corner
    EXPECT_TRUE(events.empty());
    d::clip2d(3000, 50, -100, 50); // through the whole width
    EXPECT_EQ(events, (std::vector<Event>{mv(2969, 50), dr(0, 50)}));
    events.clear();
    d::clip2d(10, 10, 10, 10); // zero length: still a draw
    EXPECT_EQ(events, (std::vector<Event>{dr(10, 10)}));

    EXPECT_EQ(d::jqqclp(0, 0), 0);
    EXPECT_EQ(d::jqqclp(2969, 2099), 0); // bounds are inside
    EXPECT_EQ(d::jqqclp(2969.5f, 0), 1);
    EXPECT_EQ(d::jqqclp(NAN, 0), 1);
    int cx, cy;
    EXPECT_EQ(d::chkval(-1, 5000, cx, cy, 0, 0, 10, 10), 2);
    EXPECT_EQ(cx * 10 + cy, 13);
    EXPECT_FLOAT_EQ(d::xcut(0, 0, 10, 10, 4), 4);
    EXPECT_FLOAT_EQ(d::xcut(3, 5, 10, 5, 4), 3); // horizontal: x1
    EXPECT_FLOAT_EQ(d::ycut(0, 0, 10, 20, 5), 10);
    EXPECT_FLOAT_EQ(d::ycut(2, 1, 2, 9, 5), 1); // vertical: y1
}

TEST_F(Pipeline, PolylineLeavingAndReenteringIsOneConnectedPath) {
    d::qqmove(100, 100);
    d::qqdraw(-50, 200);
    d::qqdraw(100, 300);
    d::qqdraw(200, 300);
    d::qqstrk();
    EXPECT_EQ(events, (std::vector<Event>{mv(100, 100), dr(0, 167), mv(0, 233), dr(100, 300),
                                          dr(200, 300)}));
    events.clear();
    d::qqmove(-10, 10); // starts outside
    d::qqdraw(10, 10);
    d::qqdraw(20, 10);
    d::qqstrk();
    EXPECT_EQ(events, (std::vector<Event>{mv(0, 10), dr(10, 10), dr(20, 10)}));
}

TEST_F(Pipeline, CircularClipping) {
    g.clip.circular = 1;
    g.clip.cx = 500;
    g.clip.cy = 500;
    g.clip.r = 100;
    d::clip2d(500, 500, 520, 480);
    ASSERT_EQ(events, (std::vector<Event>{dr(520, 480)}));
    events.clear();
    d::clip2d(500, 500, 700, 500); // leaves the circle
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], dr(600, 500));
    events.clear();
    d::clip2d(700, 500, 500, 500); // enters it
    EXPECT_EQ(events, (std::vector<Event>{mv(600, 500), dr(500, 500)}));
    events.clear();
    d::clip2d(300, 500, 700, 500); // a chord
    EXPECT_EQ(events, (std::vector<Event>{mv(600, 500), dr(400, 500)}));
    events.clear();
    d::clip2d(300, 300, 300, 700); // misses
    d::clip2d(300, 650, 700, 650); // misses
    d::clip2d(350, 500, 390, 500); // both outside, the chord lies beyond the segment
    EXPECT_TRUE(events.empty());

    float xs[2], ys[2];
    EXPECT_EQ(d::cutcrc(100, 100, 0, -200, 0, 200, xs, ys), 2); // vertical
    EXPECT_FLOAT_EQ(ys[0], 100);
    EXPECT_FLOAT_EQ(ys[1], -100);
    EXPECT_EQ(d::cutcrc(100, 50, -200, 50, 200, 50, xs, ys), 1); // tangent to the ellipse
    EXPECT_FLOAT_EQ(xs[0], 0);
    EXPECT_EQ(d::cutcrc(100, 100, -200, 300, 200, 300, xs, ys), 0);
    EXPECT_EQ(d::cutcrc(0, 0, -200, 300, 200, 300, xs, ys), 0); // degenerate ellipse
}

TEST_F(Pipeline, AngleOfDirections) {
    EXPECT_FLOAT_EQ(d::qqatan(0, 0), 1.570796f);
    EXPECT_FLOAT_EQ(d::qqatan(-3, 0), -1.570796f);
    EXPECT_FLOAT_EQ(d::qqatan(5, 1e-7f), 1.570796f);
    EXPECT_NEAR(d::qqatan(1, 1), 0.7853982f, 1e-7);
    EXPECT_NEAR(d::qqatan(0, -1), 3.1415927f, 1e-6);
}

TEST_F(Pipeline, ColourChangeBreaksThePolyline) {
    d::qqmove(10, 10);
    d::qqdraw(20, 20);
    d::qqstrk(); // what a colour change does first
    d::qqsclr(5);
    d::qqdraw(30, 30);
    d::qqdraw(40, 40);
    d::qqstrk();
    EXPECT_EQ(events, (std::vector<Event>{mv(10, 10), dr(20, 20), Event{'c', 0, 0, 5}, mv(30, 30),
                                          dr(40, 40)}));
    EXPECT_EQ(g.colour.current, 5);
}

TEST_F(Pipeline, DottedLineAcrossSegments) {
    g.style.pattern[0] = 1; // drawn 1, skipped 10
    g.style.pattern[1] = 10;
    g.style.n = 2;
    d::strtqq(0, 100);
    d::connqq(25, 100);
    EXPECT_FLOAT_EQ(g.style.remaining, 8.0f);
    EXPECT_EQ(g.style.phase, 1);
    d::connqq(25, 110); // 8 more skipped, then one drawn
    d::qqstrk();
    EXPECT_EQ(events, (std::vector<Event>{mv(0, 100), dr(1, 100), mv(11, 100), dr(12, 100),
                                          mv(22, 100), dr(23, 100), mv(25, 100), mv(25, 108),
                                          dr(25, 109), mv(25, 110)}));
}

TEST_F(Pipeline, OriginAndParallelOffsets) {
    g.pen.ox = 100;
    g.pen.oy = 50;
    d::lineqq(0, 0, 10, 0);
    d::qqstrk();
    EXPECT_EQ(events, (std::vector<Event>{mv(100, 50), dr(110, 50)}));
    events.clear();
    g.pen.ox = g.pen.oy = 0;
    g.pen.parallel = 5; // left of the direction of travel as seen on the page
    d::strtqq(0, 100);
    EXPECT_TRUE(events.empty());
    d::connqq(100, 100);
    d::qqstrk();
    EXPECT_EQ(events, (std::vector<Event>{mv(0, 95), dr(100, 95)}));
    EXPECT_FLOAT_EQ(g.pen.cx, 100);
    EXPECT_FLOAT_EQ(g.pen.cy, 100);
}

TEST_F(Pipeline, EveryPenPositionIsAVectorAndPolygonsMoveWithTheOrigin) {
    d::xjdraw(1, 1, d::PenOp::move);
    d::xjdraw(2.4f, 2.5f, d::PenOp::draw);
    EXPECT_EQ(events, (std::vector<Event>{mv(1, 1), dr(2, 3)})); // rounded on the screen
    EXPECT_EQ(g.count.vectors, 2);
    events.clear();
    const float px[3] = {0, 10, 0}, py[3] = {0, 0, 10};
    g.pen.ox = 5;
    EXPECT_TRUE(d::xjpoly(px, py, 3));
    EXPECT_EQ(events, (std::vector<Event>{{'p', 5, 0, 3}, {'p', 15, 0, 3}, {'p', 5, 10, 3}}));
    EXPECT_EQ(g.count.vectors, 2); // polygons are not counted
}
