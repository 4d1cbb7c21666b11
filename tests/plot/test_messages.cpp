// Warning lines, message routing, the error file and the summary box.
#include "core/messages.h"
#include "plotix.h"
#include "test_support.h"

#include <filesystem>

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {
const std::string kBorder = " <<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<";
const std::string kTitle = " <<                END OF PLOTIX / VERSION  8.0                  <<";
const std::string kDate = " <<  Date    : 05.03.2024  Time    : 14:07:09  Pageformat: DA4L  <<";
} // namespace

TEST_F(PlotixTest, WarningLineFormats) {
    d::jqqlev(0, 3, "graf");
    d::warnin(36);
    d::warni1(2, -12345);
    d::warnc1(2, "GREEN");
    d::qqserr("ZLIB error");
    d::warnin(101);
    EXPECT_EQ(console_text(), " <<<< Warning  36: File error in graf!\n"
                              " <<<< Warning   2: Incorrect parameter in graf!   (-12345)\n"
                              " <<<< Warning   2: Incorrect parameter in graf!   (GREEN)\n"
                              " <<<< Warning 101: ZLIB error in graf!\n");
    EXPECT_EQ(g.count.warnings, 4);

    EXPECT_EQ(d::errmes(59), 59);
    EXPECT_EQ(g.msg.text, " ");
    d::errmes(58);
    EXPECT_EQ(g.msg.text, "Array is out of screen");
    d::warnin(0);
    EXPECT_EQ(console_text(), "<<<< Incorrect parameter in errmes! (  59)\n"
                              "<<<< Incorrect parameter in errmes! (   0)\n"
                              " <<<< Warning   0:   in graf!\n");
    EXPECT_EQ(g.count.warnings, 7);

    g.msg.warnings_on = 0; // not printed, still counted
    d::warnin(3);
    g.msg.warnings_on = 1;
    g.msg.unit = 0; // silent
    d::warni1(3, 1);
    EXPECT_EQ(console_text(), "");
    EXPECT_EQ(g.count.warnings, 9);
}

TEST_F(PlotixTest, SummaryBoxByteForByte) {
    d::jqqlev(0, 0, "disini");
    g.count.vectors = 1234;
    g.count.warnings = 0;
    g.out.keyword = "BMP";
    g.out.filename = "fasogram.bmp";
    g.msg.errname = "plotix.err";
    EXPECT_EQ(d::summary_box(1),
              "\n" + kBorder + "\n" + kTitle + "\n" + kDate +
                  "\n <<  Vectors : 1234        Warnings: 0         Fileformat:  BMP  <<"
                  "\n <<  Metafile: fasogram.bmp                                      <<\n" +
                  kBorder + "\n\n");
    EXPECT_EQ(d::summary_box(11),
              "\n" + kBorder + "\n" + kTitle + "\n" + kDate +
                  "\n <<  Vectors : 1234        Warnings: 0         Fileformat:  BMP  <<"
                  "\n <<  Metafile: fasogram.bmp                                      <<"
                  "\n <<  Err-file: plotix.err                                        <<\n" +
                  kBorder + "\n\n");
    g.out.filename = std::string(60, 'n');
    g.count.vectors = 12345678901LL; // wider than its field
    g.count.warnings = 3;
    std::string box = d::summary_box(10);
    EXPECT_EQ(box.find("Metafile"), std::string::npos);
    EXPECT_NE(box.find(" <<  Vectors : 12345678901  Warnings: 3  "), std::string::npos);
    EXPECT_NE(box.find("Err-file: plotix.err"), std::string::npos);
    box = d::summary_box(1);
    EXPECT_NE(box.find("Metafile: " + std::string(48, 'n') + "  <<"), std::string::npos);
    for (const std::string& line : split_lines(box)) {
        if (!line.empty() && line.find("Vectors") == std::string::npos) {
            EXPECT_EQ(line.size(), 67u) << line;
        }
    }
}

TEST_F(PlotixTest, SummaryAfterAPlot) {
    plotix::metafl("ps");
    plotix::disini();
    plotix::line(0, 0, 100, 0);
    plotix::metafl("PS"); // one warning
    plotix::disfin();
    EXPECT_EQ(console_text(),
              " <<<< Warning   3: Incorrect level in metafl!   (   1)\n\n" + kBorder + "\n" +
                  kTitle + "\n" + kDate +
                  "\n <<  Vectors : 2           Warnings: 1         Fileformat:   PS  <<"
                  "\n <<  Metafile: plotix.ps                                         <<\n" +
                  kBorder + "\n\n");
    g.msg.summary_on = 0;
    plotix::disini();
    plotix::disfin();
    EXPECT_EQ(console_text(), "");
}

TEST_F(PlotixTest, ErrorFileKeepsWarningsOfThePlot) {
    plotix::winini();
    plotix::metafl("PS");
    plotix::disini();
    EXPECT_EQ(g.msg.unit, 17);
    plotix::metafl("GKSL"); // goes to the error file
    plotix::disfin();
    EXPECT_EQ(g.msg.unit, 6);
    EXPECT_EQ(read_file(dir / "plotix.err"),
              " <<<< Warning   3: Incorrect level in metafl!   (   1)\n");
    EXPECT_EQ(console_text(), "disfin\n"
                              "           END OF PLOTIX / VERSION  8.0  \n "
                              "\n Date          : 05.03.2024"
                              "\n Time          : 14:07:09"
                              "\n Pageformat: DA4L"
                              "\n Vectors      : 0"
                              "\n Warnings  : 1"
                              "\n Fileformat  : PS"
                              "\n Metafile     : plotix.ps"
                              "\n Error file    : plotix.err\n");

    plotix::disini(); // a clean plot: its error file is removed again
    EXPECT_EQ(g.msg.errname, "plotix_1.err");
    EXPECT_TRUE(std::filesystem::exists(dir / "plotix_1.err"));
    plotix::disfin();
    EXPECT_FALSE(std::filesystem::exists(dir / "plotix_1.err"));
    std::string text = console_text();
    EXPECT_EQ(text.find("Error file"), std::string::npos);
    EXPECT_NE(text.find("Metafile     : plotix_1.ps"), std::string::npos);
}

// shwfil: the summary names the file the user asked for while the plot is
// written under another name; the warnings and the file itself keep the
// real name.  An empty name, and a new plot after it, show the real one.
TEST_F(PlotixTest, SummaryShowsTheNameGivenByShwfil) {
    plotix::metafl("PS");
    plotix::setfil(".stage-1234/rr.ps");
    std::filesystem::create_directory(".stage-1234");
    plotix::shwfil("results/final.ps");
    plotix::disini();
    plotix::line(0, 0, 100, 100);
    plotix::disfin();
    std::string text = console_text();
    EXPECT_NE(text.find(" <<  Metafile: results/final.ps "), std::string::npos) << text;
    EXPECT_EQ(text.find("rr.ps"), std::string::npos) << text;
    EXPECT_TRUE(std::filesystem::exists(".stage-1234/rr.ps"));
    EXPECT_FALSE(std::filesystem::exists("results/final.ps"));

    // A missing directory is warned about under the real name; the box of
    // a plot without a file names none.
    plotix::setfil("missing/rr.ps");
    plotix::disini();
    plotix::disfin();
    text = console_text();
    EXPECT_NE(text.find("Warning  36"), std::string::npos) << text;
    EXPECT_NE(text.find("(missing/rr.ps)"), std::string::npos) << text;
    EXPECT_EQ(text.find("final.ps"), std::string::npos) << text;

    // Persistent, and refused inside a plot: the name stays.
    plotix::setfil(".stage-1234/rr2.ps");
    plotix::disini();
    plotix::shwfil("other.ps");
    plotix::disfin();
    text = console_text();
    EXPECT_NE(text.find("shwfil"), std::string::npos) << text;
    EXPECT_NE(text.find("Metafile: results/final.ps "), std::string::npos) << text;

    plotix::shwfil("");
    plotix::setfil(".stage-1234/rr3.ps");
    plotix::disini();
    plotix::disfin();
    text = console_text();
    EXPECT_NE(text.find("Metafile: .stage-1234/rr3.ps "), std::string::npos) << text;
}
