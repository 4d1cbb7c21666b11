// Levels, helpers, defaults and the life cycle of a plot.
#include <algorithm>
#include <climits>
#include <cmath>

#include "core/messages.h"
#include "life/lifecycle.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

TEST_F(PlotixTest, LevelWarningsNameTheRoutineAndLevel) {
    plotix::disfin();
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in disfin!   (   0)\n");
    plotix::line(0, 0, 10, 10);
    plotix::erase();
    plotix::sendbf();
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in line!   (   0)\n"
                              " <<<< Warning   3: Incorrect level in erase!   (   0)\n"
                              " <<<< Warning   3: Incorrect level in sendbf!   (   0)\n");
    plotix::winupd(); // allowed at level 0
    EXPECT_EQ(console_text(), "");

    plotix::metafl("PS");
    plotix::setfil("first.ps");
    plotix::disini();
    console_text();
    plotix::metafl("GKSL");
    plotix::setfil("other.ps");
    plotix::disini();
    plotix::winini();
    EXPECT_EQ(console_text(), " <<<< Warning   3: Incorrect level in metafl!   (   1)\n"
                              " <<<< Warning   3: Incorrect level in setfil!   (   1)\n"
                              " <<<< Warning   3: Incorrect level in disini!   (   1)\n"
                              " <<<< Warning   3: Incorrect level in winini!   (   1)\n");
    EXPECT_EQ(g.out.device, 504);
    EXPECT_EQ(g.out.filename, "first.ps");
    EXPECT_EQ(g.count.warnings, 4);
    plotix::disfin();
    EXPECT_EQ(g.life.level, 0);
    EXPECT_EQ(g.life.closed, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "first.ps"));
}

TEST_F(PlotixTest, ArgumentHelpers) {
    d::jqqlev(0, 3, "test");
    EXPECT_EQ(d::jqqval(5, 0, 10), 0);
    EXPECT_EQ(d::jqqval(-1, 0, -1), 1); // no upper bound, below minimum
    EXPECT_EQ(d::jqqval(INT_MAX, 0, -1), 0);
    EXPECT_EQ(d::jqqval(11, 0, 10), 1);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in test!   (  -1)\n"
                              " <<<< Warning   2: Incorrect parameter in test!   (  11)\n");

    const char* list = "SMAL+RAIN+SPEC+VGA +TEMP";
    EXPECT_EQ(d::jqqind(list, 5, "rainbow"), 2);
    EXPECT_EQ(d::jqqind(list, 5, "vga"), 4);
    EXPECT_EQ(d::jqqind(list, 5, "Temp"), 5);
    EXPECT_EQ(d::jqqind(list, 9, "none"), 0); // count beyond the list is harmless
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in test!   (none)\n");

    EXPECT_EQ(d::keyword4("ps"), "PS  ");
    EXPECT_EQ(d::keyword4("console"), "CONS");
    EXPECT_EQ(d::keyword4(""), "    ");
    EXPECT_EQ(d::keyword4("\xe9t\xc3\xa9"), "\xe9T\xc3\xa9"); // only ASCII letters change
    std::string s = " a b  c  ";
    EXPECT_EQ(d::trmlen(s), 7);
    d::dsblnk(s);
    EXPECT_EQ(s, "abc");
    d::qqcopy(s, "abcdefgh", 3);
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(d::dddate(), "05.03.2024");
    EXPECT_EQ(d::ddtime(), "14:07:09");

    g.page.unitdiv = 2.0f;
    EXPECT_EQ(d::jqquni(300), 150);
    EXPECT_EQ(d::jqquni(3), 2);
    g.page.unitdiv = 0.0f; // a broken divisor counts as 1
    EXPECT_EQ(d::jqquni(300), 300);
    g.page.unitdiv = 1.0f;
    EXPECT_EQ(d::jqqyvl(100), 100);
    g.page.lowerleft = 1;
    EXPECT_EQ(d::jqqyvl(100), g.page.height - 100);
    EXPECT_EQ(d::jqqyvl(INT_MIN), INT_MAX);
}

TEST_F(PlotixTest, DefaultsOfAPlot) {
    EXPECT_FLOAT_EQ(plotix::getver(), 8.0f);
    EXPECT_EQ(plotix::getplv(), 0);
    plotix::disini(); // no format chosen: the metafile
    EXPECT_EQ(g.out.device, 201);
    EXPECT_EQ(g.out.keyword, "GKSL");
    EXPECT_EQ(g.out.filename, "plotix.met");
    EXPECT_EQ(g.page.width, 2969);
    EXPECT_EQ(g.page.height, 2099);
    EXPECT_EQ(g.axes.xlen, 1980);
    EXPECT_EQ(g.axes.ylen, 1400);
    EXPECT_EQ(g.axes.xpos, 494);
    EXPECT_EQ(g.axes.ypos, 1799);
    EXPECT_EQ(g.clip.xmax, 2969);
    EXPECT_EQ(g.clip.ymax, 2099);
    EXPECT_EQ(g.msg.unit, 6);
    plotix::disfin();

    g.page.basew = 2099.0f; // a page higher than wide
    g.page.baseh = 2969.0f;
    plotix::metafl("cons");
    record();
    plotix::disini();
    EXPECT_EQ(g.dev.imgw, 603);
    EXPECT_EQ(g.dev.imgh, 853);
    plotix::disfin();
}

TEST_F(PlotixTest, SecondPlotStartsFromDefaults) {
    plotix::metafl("PS");
    plotix::setfil("a.ps");
    plotix::disini();
    g.clip.xmax = 5;
    g.style.n = 2;
    g.pen.ox = 7;
    plotix::line(0, 0, 100, 100);
    plotix::disfin();
    console_text();

    plotix::disini(); // same format, same given name: a new version
    EXPECT_EQ(g.clip.xmax, 2969);
    EXPECT_EQ(g.style.n, 1);
    EXPECT_EQ(g.pen.ox, 0);
    EXPECT_EQ(g.count.vectors, 0);
    EXPECT_EQ(g.out.device, 504);
    EXPECT_EQ(g.out.filename, "a_1.ps");
    plotix::disfin();

    plotix::metafl("GKSL");
    plotix::disini();
    EXPECT_EQ(g.out.device, 201);
    EXPECT_EQ(g.out.filename, "a_2.ps"); // the given name holds until setfil again
    plotix::disfin();
    plotix::setfil("b.met");
    plotix::disini();
    EXPECT_EQ(g.out.filename, "b.met");
    plotix::disfin();
    EXPECT_TRUE(std::filesystem::exists(dir / "a.ps"));
    EXPECT_TRUE(std::filesystem::exists(dir / "a_1.ps"));
    EXPECT_TRUE(std::filesystem::exists(dir / "a_2.ps"));
    EXPECT_TRUE(std::filesystem::exists(dir / "b.met"));
}

TEST_F(PlotixTest, ScreenWithoutDisplayWarnsAndFinishesAtOnce) {
    plotix::metafl("XWI3");
    plotix::disini();
    EXPECT_EQ(console_text(), " <<<< Warning 101: No display available in disini!\n");
    plotix::line(0, 0, 100, 100);
    plotix::erase();
    plotix::sendbf();
    plotix::disfin();
    std::string box = console_text();
    EXPECT_NE(box.find("Warnings: 1 "), std::string::npos);
    EXPECT_NE(box.find("Fileformat: XWI3"), std::string::npos);
    EXPECT_NE(box.find(" <<  Metafile:                                                   <<\n"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST_F(PlotixTest, BadArgumentsNeverCrash) {
    const std::string long_text(200, 'x');
    const std::string odd = std::string("\xff\xfe\x00\x80 ps", 7);
    for (const std::string& s : {std::string(), long_text, odd, std::string("MET"),
                                 std::string("MET9"), std::string("MET:")}) {
        plotix::metafl(s);
        plotix::setfil(s);
    }
    EXPECT_EQ(g.out.device, 80); // only MET9 was a keyword
    EXPECT_EQ(g.out.filename.size(), 4u);
    plotix::setfil(long_text); // kept whole
    EXPECT_EQ(g.out.filename.size(), 200u);
    plotix::metafl("PS");
    plotix::disini();
    plotix::line(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    plotix::line(INT_MAX, 0, INT_MIN, 0);
    d::qqmove(NAN, 0.0f);
    d::qqdraw(INFINITY, -INFINITY);
    d::qqdraw(100.0f, 100.0f);
    d::qqdraw(1e30f, -1e30f);
    const float nx[3] = {NAN, 1.0f, 2.0f}, ny[3] = {0.0f, 1.0f, 2.0f};
    d::xjpoly(nx, ny, 3);
    d::xjpoly(nx, ny, -1);
    g.style.n = 2; // a dashed line far off the page ends
    g.style.pattern[1] = 1;
    d::strtqq(0.0f, 0.0f);
    d::connqq(1e20f, 1e20f);
    d::connqq(INFINITY, 0.0f);
    d::warnc1(2, long_text);
    d::errmes(-5);
    d::errmes(INT_MAX);
    plotix::disfin();
    EXPECT_EQ(g.life.level, 0);
    std::string ps = read_file(dir / long_text);
    EXPECT_NE(ps.find("showpage"), std::string::npos);
}

TEST_F(PlotixTest, BackgroundModeAndItsChangeBetweenPlots) {
    record();
    auto erases = [this] { return std::count(events.begin(), events.end(), Event{'e'}); };
    struct Case {
        const char* keyword;
        int mode;
    };
    // Reversed for PDF, EPS and PS only; the first plot's mode is remembered.
    for (const Case& c :
         {Case{"CONS", 0}, Case{"POST", 0}, Case{"PSCL", 0}, Case{"GKSL", 0}, Case{"BMP", 0}}) {
        plotix::metafl(c.keyword);
        plotix::disini();
        EXPECT_EQ(g.dev.bgmode, c.mode) << c.keyword;
        plotix::disfin();
    }
    EXPECT_EQ(g.dev.bgchanged, 0);
    EXPECT_EQ(erases(), 0);
    for (const Case& c : {Case{"PDF", 2}, Case{"EPS", 2}, Case{"PS", 2}}) {
        plotix::metafl(c.keyword);
        plotix::disini();
        EXPECT_EQ(g.dev.bgmode, c.mode) << c.keyword;
        plotix::disfin();
    }
    EXPECT_EQ(g.dev.bgchanged, 1);
    EXPECT_EQ(erases(), 0); // not a screen

    // The change mark stays set: a screen plot with the first plot's mode
    // still starts by clearing the window.
    plotix::metafl("CONS");
    plotix::disini();
    EXPECT_EQ(g.dev.bgmode, 0);
    EXPECT_EQ(erases(), 1);
    plotix::disfin();
    screen_depth = 8; // not on a screen of 8 bits per pixel
    plotix::disini();
    EXPECT_EQ(erases(), 1);
    plotix::disfin();

    // Any option other than 4 is taken as the mode.
    g.dev.bgopt = 2;
    plotix::metafl("GKSL");
    plotix::disini();
    EXPECT_EQ(g.dev.bgmode, 2);
    plotix::disfin();
    g.dev.bgopt = 0;
    plotix::metafl("PDF");
    plotix::disini();
    EXPECT_EQ(g.dev.bgmode, 0);
    plotix::disfin();
}

TEST_F(PlotixTest, MessageTexts) {
    const std::pair<int, const char*> texts[] = {
        {1, "Negative parameter"},
        {4, "X coordinate out of page"},
        {11, "Axis length < 2"},
        {18, "Incorrect character after the eushft operator"},
        {23, "Non positive minimum for log scaling (set to 0.1)"},
        {25, "Minimum equal maximum (added -1 and +1)"},
        {35, "Confusion of graf3d and graf3"},
        {39, "Too many pages for CGM file (max. length 327 cm)"},
        {44, "Instruction code: incorrect tabulator index"},
        {49, "Fileformat is not PostScript"},
        {53, "Not enough memory"},
        {57, "Control characters must be different"},
    };
    for (const auto& [number, text] : texts) {
        EXPECT_EQ(d::errmes(number), number);
        EXPECT_EQ(g.msg.text, text) << number;
    }
    // Numbers above 100 keep the text given by qqserr.
    d::qqserr("ZLIB error");
    d::errmes(101);
    EXPECT_EQ(g.msg.text, "ZLIB error");
    EXPECT_EQ(g.count.warnings, 13);
    EXPECT_EQ(console_text(), "");
}
