// Line styles: the named styles, user patterns, bad input and the dash walk
// through the public routines, seen by the recording driver.
#include <array>
#include <cmath>

#include "pipeline/pipeline.h"
#include "pipeline/style.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {

class Styles : public RecordingTest {
  protected:
    std::vector<int> pattern() const { return {g.style.pattern, g.style.pattern + g.style.n}; }
};

} // namespace

TEST_F(Styles, NamedStylesAndTheirPatterns) {
    struct Case {
        void (*set)();
        int type;
        std::vector<int> pattern;
    };
    const Case cases[] = {
        {plotix::dot, 1, {1, 10}},
        {plotix::dash, 2, {10, 10}},
        {plotix::chndsh, 3, {30, 15, 10, 15}},
        {plotix::chndot, 4, {1, 15, 15, 15}},
        {plotix::dashm, 5, {20, 15}},
        {plotix::dotl, 6, {1, 20}},
        {plotix::dashl, 7, {30, 20}},
        {plotix::solid, 0, {1}},
    };
    for (const Case& c : cases) {
        g.style.phase = 1; // choosing a style restarts the pattern
        g.style.index = 2;
        c.set();
        EXPECT_EQ(g.style.type, c.type);
        EXPECT_EQ(pattern(), c.pattern) << c.type;
        EXPECT_EQ(g.style.phase, 0);
        EXPECT_EQ(g.style.index, 1);
        EXPECT_FLOAT_EQ(g.style.remaining, float(c.pattern[0]));
        plotix::lintyp(c.type);
        EXPECT_EQ(pattern(), c.pattern) << c.type;
    }
    EXPECT_EQ(console_text(), "");
}

TEST_F(Styles, LengthsFollowTheUnitDivisor) {
    plotix::disfin();
    g.page.unitdiv = 4; // 30 -> 8, 15 -> 4, 10 -> 3 (rounded)
    plotix::disini();
    plotix::chndsh();
    EXPECT_EQ(pattern(), (std::vector<int>{8, 4, 3, 4}));
    plotix::dot(); // 1/4 rounds to 0, which becomes 1
    EXPECT_EQ(pattern(), (std::vector<int>{1, 3}));
}

TEST_F(Styles, BadStylesWarnAndKeepThePreviousStyle) {
    plotix::dash();
    console_text();
    plotix::lintyp(8);
    plotix::lintyp(-1);
    const int zero[2] = {5, 0};
    plotix::myline(zero, 2);
    const int eleven[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    plotix::myline(eleven, 11);
    plotix::myline(eleven, 0);
    plotix::myline(nullptr, 2);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in lintyp!   (   8)\n"
                              " <<<< Warning   2: Incorrect parameter in lintyp!   (  -1)\n"
                              " <<<< Warning   2: Incorrect parameter in myline!   (   0)\n"
                              " <<<< Warning   2: Incorrect parameter in myline!   (  11)\n"
                              " <<<< Warning   2: Incorrect parameter in myline!   (   0)\n"
                              " <<<< Warning   2: Incorrect parameter in myline!   (   2)\n");
    EXPECT_EQ(pattern(), (std::vector<int>{10, 10}));
    EXPECT_EQ(g.style.type, 2);
    EXPECT_EQ(g.count.warnings, 6);

    plotix::disfin();
    console_text();
    plotix::dot(); // before disini
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in dot!   (   0)\n");
}

TEST_F(Styles, DotOnA25UnitLineAndItsContinuation) {
    plotix::dot();
    plotix::line(0, 100, 25, 100);
    EXPECT_EQ(pieces(),
              (std::vector<Piece>{{0, 100, 1, 100}, {11, 100, 12, 100}, {22, 100, 23, 100}}));
    EXPECT_EQ(g.style.phase, 1); // skipping, 8 units to go
    EXPECT_FLOAT_EQ(g.style.remaining, 8.0f);
    events.clear();
    plotix::line(25, 100, 50, 100); // the pattern runs on from the last call
    EXPECT_EQ(pieces(), (std::vector<Piece>{{33, 100, 34, 100}, {44, 100, 45, 100}}));
}

TEST_F(Styles, DashesTurnCornersAndRestartOnRequest) {
    plotix::dash();
    d::strtqq(0, 0);
    d::connqq(15, 0);  // drawn 0..10, skipped 10..15
    d::connqq(15, 15); // skipped 5 more, drawn 5..15
    d::connqq(0, 15);  // drawn 0 more, skipped 10, drawn 5
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 0, 10, 0}, {15, 5, 15, 15}, {5, 15, 0, 15}}));
    EXPECT_EQ(g.style.phase, 0);
    EXPECT_FLOAT_EQ(g.style.remaining, 5.0f);

    d::inityp();
    EXPECT_EQ(g.style.phase, 0);
    EXPECT_EQ(g.style.index, 1);
    EXPECT_FLOAT_EQ(g.style.remaining, 10.0f);

    const int own[3] = {3, 2, 1};
    plotix::myline(own, 3); // drawn 3, skipped 2, drawn 1, skipped 3, ...
    events.clear();
    plotix::line(0, 50, 12, 50);
    // The last element ends exactly at the end of the line: the pen goes
    // down there, and the end point is drawn as a dot.
    EXPECT_EQ(pieces(), (std::vector<Piece>{
                            {0, 50, 3, 50}, {5, 50, 6, 50}, {9, 50, 11, 50}, {12, 50, 12, 50}}));
    EXPECT_EQ(g.style.type, 2); // myline leaves the line type number alone
}

TEST_F(Styles, SolidLinesNeverTouchTheDashState) {
    plotix::solid();
    g.style.remaining = 0.25f;
    g.style.phase = 1;
    plotix::line(0, 0, 100, 0);
    plotix::line(100, 0, 100, 77);
    EXPECT_EQ(pieces(), (std::vector<Piece>{{0, 0, 100, 0}, {100, 0, 100, 77}}));
    EXPECT_FLOAT_EQ(g.style.remaining, 0.25f);
    EXPECT_EQ(g.style.phase, 1);
}

TEST_F(Styles, DefaultsComeBackAtTheNextPlot) {
    plotix::dashl();
    plotix::disfin();
    plotix::disini();
    EXPECT_EQ(g.style.type, 0);
    EXPECT_EQ(pattern(), (std::vector<int>{1}));
    EXPECT_EQ(g.style.width, 1);
    EXPECT_EQ(g.style.cap, 2);
    EXPECT_EQ(g.style.join, 2);
    EXPECT_FLOAT_EQ(g.style.miter, 2.0f);
}
