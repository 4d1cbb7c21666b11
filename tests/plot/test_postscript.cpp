// The PostScript file: header, prolog, paths, line lengths, page end, and a
// check by ghostscript.
#include <clocale>
#include <cstdlib>
#include <fstream>

#include "core/state.h"
#include "drivers/linebuf.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "test_support.h"

#ifndef PLOTIX_TEST_DATA
#error "PLOTIX_TEST_DATA must name the test data directory"
#endif

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {

std::vector<std::string> plot_ps(const char* keyword, void (*draw)()) {
    plotix::metafl(keyword);
    plotix::setfil("out.ps");
    plotix::disini();
    draw();
    plotix::disfin();
    return split_lines(read_file("out.ps"));
}

// The drawing commands after the placement line, as whitespace-separated words.
std::vector<std::string> words_after_header(const std::vector<std::string>& lines) {
    std::vector<std::string> words;
    for (std::size_t i = 86; i < lines.size(); ++i) {
        std::size_t at = 0;
        const std::string& l = lines[i];
        while (at < l.size()) {
            std::size_t end = l.find(' ', at);
            if (end == std::string::npos) end = l.size();
            if (end > at) words.push_back(l.substr(at, end - at));
            at = end + 1;
        }
    }
    return words;
}

bool ghostscript_reads(const std::string& file) {
    std::string cmd =
        "gs -dSAFER -dBATCH -dNOPAUSE -q -sDEVICE=png16m -r30 -sOutputFile=page.png " + file +
        " >gs.log 2>&1";
    return std::system(cmd.c_str()) == 0 && std::filesystem::file_size("page.png") > 0;
}

} // namespace

TEST_F(PlotixTest, PostScriptHeaderAndProlog) {
    auto lines = plot_ps("PS", [] { plotix::line(100, 200, 300, 400); });
    ASSERT_GE(lines.size(), 87u);
    EXPECT_EQ(lines[0], "%!PS-Adobe-2.0");
    EXPECT_EQ(lines[1], "%%BoundingBox:  21 28 575 811");
    EXPECT_EQ(lines[2], "%%Creator: PLOTIX   8.0 L");
    EXPECT_EQ(lines[3], "%%CreationDate: 05.03.2024 , 14:07:09");
    EXPECT_EQ(lines[4], "%%Page: 1 1");
    EXPECT_EQ(lines[5], "%%EndComments");
    auto prolog = split_lines(read_file(std::string(PLOTIX_TEST_DATA) + "/prolog.txt"));
    ASSERT_EQ(prolog.size(), 79u);
    for (std::size_t i = 0; i < prolog.size(); ++i) EXPECT_EQ(lines[6 + i], prolog[i]) << i;
    EXPECT_EQ(lines[85],
              "  150 cm   200 cm translate 5 cm setlinewidth   1.000476  1.000476 scale");
    // (100, 200) and (300, 400) at 1.857143 device units per plot unit, x and y exchanged.
    // The foreground colour first: black after the background swap.
    EXPECT_EQ(lines[86], "0 0 0 f 371 186 u 743 557 d p showpage ");
    EXPECT_EQ(lines.size(), 87u);
    EXPECT_EQ(read_file("out.ps").back(), '\n');
    EXPECT_TRUE(ghostscript_reads("out.ps")) << read_file("gs.log");
}

TEST_F(PlotixTest, PostScriptVariants) {
    auto eps = plot_ps("EPS", [] {});
    EXPECT_EQ(eps[0], "%!PS-Adobe-3.0 EPSF-3.0");
    EXPECT_EQ(eps[86], "0 0 0 f showpage ");
    EXPECT_TRUE(ghostscript_reads("out.ps")) << read_file("gs.log");
    std::filesystem::remove("out.ps");
    auto pscl = plot_ps("PSCL", [] {});
    EXPECT_EQ(pscl[0], "%!PS-Adobe-2.0");
    EXPECT_EQ(pscl[86], "0 0 3898 5514 0 0 0 e ");
    EXPECT_EQ(pscl[87], "255 255 255 f showpage "); // white on the black page
    EXPECT_TRUE(ghostscript_reads("out.ps")) << read_file("gs.log");
    std::filesystem::remove("out.ps");

    g.page.basew = 2099.0f; // a page higher than wide
    g.page.baseh = 2969.0f;
    auto portrait = plot_ps("POST", [] { plotix::line(100, 200, 300, 400); });
    EXPECT_EQ(portrait[1], "%%BoundingBox:  21 28 575 811");
    EXPECT_EQ(portrait[2], "%%Creator: PLOTIX   8.0 P");
    EXPECT_EQ(portrait[86], "0 0 0 f 186 5142 u 557 4771 d p showpage ");
    EXPECT_TRUE(ghostscript_reads("out.ps")) << read_file("gs.log");
}

TEST_F(PlotixTest, PostScriptPathsOf50PointsAndShortLines) {
    auto lines = plot_ps("PS", [] {
        d::qqmove(10, 10);
        for (int i = 1; i <= 60; ++i) d::qqdraw(10.0f + 20.0f * i, 10.0f + 13.0f * (i % 3));
        d::qqstrk();
        d::qqsclr(3); // colour changes with nothing drawn between them
        d::qqsclr(4);
        d::qqmove(1000, 1000);
        for (int i = 1; i <= 120; ++i) d::qqdraw(1000.0f + 7.0f * i, 1000.0f + (i % 2) * 9.0f);
    });
    for (const std::string& l : lines) EXPECT_LE(l.size(), 80u) << l;
    auto words = words_after_header(lines);
    // Count the points of each path, remember the colour commands between paths.
    std::vector<std::string> shape;
    int points = 0;
    std::vector<std::string> first_points;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "u") {
            points = 1;
            first_points.push_back(words[i - 2] + " " + words[i - 1]);
        } else if (w == "d") {
            ++points;
        } else if (w == "p") {
            shape.push_back(std::to_string(points));
        } else if (w == "f" || w == "showpage") {
            shape.push_back(w);
        }
    }
    // The second polyline breaks its path where the pen buffer was stroked.
    EXPECT_EQ(shape, (std::vector<std::string>{"f", "50", "12", "f", "f", "50", "50", "2", "22",
                                               "showpage"}));
    // The second path starts at the 50th point: draw 49, (990, 10 + 13) in device units.
    EXPECT_EQ(first_points[1], "43 1839");
    EXPECT_TRUE(lines.back().ends_with("p showpage ")) << lines.back();
    EXPECT_TRUE(ghostscript_reads("out.ps")) << read_file("gs.log");
}

TEST_F(PlotixTest, LineBufferWordWrapping) {
    d::OutputFile file;
    ASSERT_TRUE(file.create("wrap.txt"));
    d::LineBuffer buf(file);
    buf.qpsbuf("   21    28 u ");
    buf.qpsbuf(std::string(70, 'a') + " ");
    buf.qpsbuf("b  c ");
    buf.end_line_if_pending();
    buf.end_line_if_pending(); // nothing pending: no empty line
    buf.qqsbuf(std::string(75, 'x'));
    buf.qqsbuf("12345678");
    buf.end_line_if_pending();
    ASSERT_TRUE(file.close());
    EXPECT_EQ(read_file("wrap.txt"), "21 28 u " + std::string(70, 'a') + " \nb c \n" +
                                         std::string(75, 'x') + "\n12345678\n");
}
