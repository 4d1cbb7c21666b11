// The metafile, plotter, printer and applet outputs, and locale independence.
#include <clocale>

#include "pipeline/pipeline.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

TEST_F(PlotixTest, MetafileRecords) {
    plotix::disini(); // the default format
    plotix::line(0, 0, 2969, 2099);
    plotix::disfin();
    // The foreground colour 255 of the default table comes first.
    EXPECT_EQ(read_file("plotix.met"),
              "      29.7      21.0\n"
              "99.000000099.000000086.0000000 0.0000000 0.7069721 3.0000000 1.0000000 0.0000000\n"
              " 2.0000000 0.0000000 0.7069721 3.0000000 9.0000000\n");
    EXPECT_NE(console_text().find("Fileformat: GKSL  <<\n <<  Metafile: plotix.met "),
              std::string::npos);

    plotix::setfil("colours.met");
    plotix::disini();
    d::qqsclr(138);
    d::qqsclr(138); // unchanged: no record
    d::qqsclr(0);
    d::qqsclr(89);
    plotix::disfin();
    EXPECT_EQ(read_file("colours.met"),
              "      29.7      21.0\n"
              "99.000000099.000000086.000000099.000000058.000000099.000000099.000000087.0000000\n"
              "98.0000000 0.0000000 0.7069721 3.0000000 9.0000000\n");
}

TEST_F(PlotixTest, PlotterAndPrinterRecords) {
    plotix::metafl("HPGL");
    plotix::disini();
    d::qqsclr(3);
    d::qqsclr(3);
    plotix::line(0, 0, 100, 0);
    plotix::disfin();
    EXPECT_EQ(read_file("plotix.hpg"), " SP1;\nSP255;SP3;PU0,8396;PD400,8396;PU0,0;\n");

    plotix::metafl("KYOC");
    plotix::disini();
    plotix::line(100, 100, 200, 100);
    plotix::disfin();
    EXPECT_EQ(read_file("plotix.kyo"), "MAP  118, 118;DAP  236, 118;RES;EXIT;\n");

    plotix::metafl("HPA3");
    plotix::disini();
    for (int i = 0; i < 10; ++i) plotix::line(2000, 1000, 2900, 2000 - i);
    plotix::disfin();
    for (const std::string& l : split_lines(read_file("plotix_1.hpg"))) EXPECT_LE(l.size(), 80u);
}

TEST_F(PlotixTest, AppletSource) {
    plotix::metafl("JAVA");
    plotix::disini();
    plotix::line(0, 0, 1000, 0);
    d::qqstrk();
    d::qqsclr(5);
    plotix::erase();
    plotix::disfin();
    std::string text = read_file("plotix.java");
    // The foreground colour of the default table, then the rainbow's entry 5.
    EXPECT_EQ(text.substr(text.find("  {\n") + 4), "  g.setColor (new Color (0,0,0));\n"
                                                   "  g.drawLine (0,0,287,0);\n"
                                                   "  g.setColor (new Color (51,0,102));\n"
                                                   "  g.clearRect (0,0,853,603);\n"
                                                   "  }\n}\n");
    EXPECT_NE(console_text().find("Metafile: plotix.java "), std::string::npos);
}

TEST_F(PlotixTest, NumbersUseAPointInAnyLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old != nullptr ? old : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locale de_DE.UTF-8 missing";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 1.5);
    EXPECT_STREQ(buf, "1,5"); // the locale is really in force

    plotix::metafl("PS");
    plotix::disini();
    plotix::line(0, 0, 100, 100);
    plotix::disfin();
    plotix::metafl("GKSL");
    plotix::disini();
    plotix::line(0, 0, 100, 100);
    plotix::disfin();
    std::setlocale(LC_ALL, saved.c_str());

    std::string ps = read_file("plotix.ps");
    EXPECT_NE(ps.find("%%Creator: PLOTIX   8.0 L\n"), std::string::npos);
    EXPECT_NE(ps.find("  1.000476  1.000476 scale\n"), std::string::npos);
    std::string met = read_file("plotix.met");
    EXPECT_EQ(
        met.rfind("      29.7      21.0\n99.000000099.000000086.0000000 0.0000000 0.7069721", 0),
        0u);
    EXPECT_EQ(met.find(','), std::string::npos);
    EXPECT_NE(console_text().find("VERSION  8.0 "), std::string::npos);
}

namespace {

// The file of a plot of one line from (100, 200) to (300, 200) in format.
std::string one_line(const char* format, const std::string& file) {
    plotix::metafl(format);
    plotix::setfil(file);
    plotix::disini();
    plotix::line(100, 200, 300, 200);
    plotix::disfin();
    return read_file(file);
}

// Whether text holds part, line ends left out (records run on across lines).
bool has(std::string text, const std::string& part) {
    std::erase(text, '\n');
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(PlotixTest, EveryFormatLaysThePageOnItsUnits) {
    // The line (100, 200) - (300, 200) on the landscape page W = 2969, H = 2099,
    // as each format writes it.
    // The metafile: x / 2969, (H - y) / 2969.
    EXPECT_TRUE(has(one_line("GKSL", "a.met"),
                    " 0.0336814 0.6396093 3.0000000 0.1010441 0.6396093 2.0000000"));
    // The plotters: 4 plotter units per plot unit, y upwards; the sheet
    // formats the same on a landscape page.
    EXPECT_TRUE(has(one_line("HPGL", "a.hpg"), "PU400,7596;PD1200,7596;"));
    EXPECT_TRUE(has(one_line("HPA3", "b.hpg"), "PU400,7596;PD1200,7596;"));
    // The printer: 300 / 254 dots per plot unit, y downwards.
    EXPECT_TRUE(has(one_line("KYOC", "a.kyo"), "MAP  118, 236;DAP  354, 236;"));
    // The applet: the pixels of an 853 x 603 picture (602 / 2099 per unit).
    EXPECT_TRUE(has(one_line("JAVA", "a.java"), "  g.drawLine (29,57,86,57);"));
    // PostScript: 3900 / 2100 units per plot unit, x and y exchanged on
    // the turned landscape page.
    EXPECT_TRUE(has(one_line("PS", "a.ps"), "371 186 u 371 557 d p "));
    // A page higher than wide is not turned: x s, (H - y) s.
    g.page.basew = 2099.0f;
    g.page.baseh = 2969.0f;
    EXPECT_TRUE(has(one_line("PS", "b.ps"), "186 5142 u 557 5142 d p "));
    // The sheet plotters turn it: (H - y) s, (W - x) s.
    EXPECT_TRUE(has(one_line("HPA3", "c.hpg"), "PU11076,7996;PD11076,7196;"));
    g.page.basew = 2969.0f;
    g.page.baseh = 2099.0f;
    // Orientation swap 1: the devices take the page turned.
    g.page.swap = 1;
    EXPECT_TRUE(has(one_line("GKSL", "b.met"),
                    " 0.0673627 0.0336814 3.0000000 0.0673627 0.1010441 2.0000000"));
    // The picture of 853 x 603 pixels at min(852 / 2099, 602 / 2969) per
    // unit: rnd(y s), rnd((W - x) s).
    EXPECT_TRUE(has(one_line("JAVA", "b.java"), "  g.drawLine (41,582,41,541);"));
    // Orientation swap 2 keeps the landscape PostScript page unturned.
    g.page.swap = 2;
    EXPECT_TRUE(has(one_line("PS", "c.ps"), "186 3527 u 557 3527 d p "));
    g.page.swap = 0;
    EXPECT_EQ(console_text().find("<<<< Warning"), std::string::npos);
}
