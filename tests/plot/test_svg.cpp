// The SVG output: a standalone SVG 1.1 document checked by xmllint, its
// contents, and its rendering (rsvg-convert) against the rendering of the
// same plot as PostScript (ghostscript).
#include <cmath>
#include <string>

#include "common/support.hpp"
#include "core/state.h"
#include "pipeline/style.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
using test_common::run_command;
namespace d = plotix::detail;
namespace fs = std::filesystem;

namespace {

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

void square(int x1, int y1, int x2, int y2) {
    const int x[4] = {x1, x2, x2, x1}, y[4] = {y1, y1, y2, y2};
    plotix::areaf(x, y, 4);
}

// A plot with lines in colours and styles, solid and hatched fills, a page
// fill, text and an axis system.
void scene(bool with_red_square = true) {
    plotix::pagera();
    plotix::pagfll(3);
    for (int t = 0; t <= 7; ++t) {
        plotix::lintyp(t);
        plotix::setclr(30 * t + 10);
        plotix::line(120, 150 + 40 * t, 900, 190 + 40 * t);
    }
    plotix::solid();
    plotix::shdpat(16);
    plotix::color("RED");
    if (with_red_square) square(1000, 150, 1300, 450);
    plotix::color("ORANGE");
    plotix::shdpat(5);
    square(1400, 150, 1700, 450);
    plotix::color("FORE");
    plotix::height(50);
    plotix::messag("SVG and PostScript", 1000, 520);
    plotix::complx();
    plotix::axspos(450, 1900);
    plotix::axslen(2000, 1000);
    plotix::name("x", "X");
    plotix::name("y", "Y");
    plotix::graf(0.0f, 10.0f, 0.0f, 2.0f, -1.0f, 1.0f, -1.0f, 0.5f);
    plotix::lintyp(1);
    plotix::grid(1, 1);
    plotix::lintyp(0);
    plotix::color("GREEN");
    float x[200], y[200];
    for (int i = 0; i < 200; ++i) {
        x[i] = 0.05f * static_cast<float>(i);
        y[i] = std::sin(1.7f * x[i]);
    }
    plotix::curve(x, y, 200);
}

void plot(const char* format, const std::string& file, bool with_red_square = true) {
    plotix::metafl(format);
    plotix::setfil(file);
    plotix::disini();
    scene(with_red_square);
    plotix::disfin();
}

struct Comparison {
    int width = 0, height = 0;
    double mean = 1e9, over40 = 1.0;
};

Comparison compare(const std::string& ps, const std::string& svg) {
    std::string out;
    const int rc = test_common::run_command(std::string("/usr/bin/python3 ") + PLOTIX_TEST_DATA +
                                                "/compare_pages.py " + ps + " " + svg,
                                            out);
    Comparison c;
    if (rc != 0 || std::sscanf(out.c_str(), "%d %d mean %lf over40 %lf", &c.width, &c.height,
                               &c.mean, &c.over40) != 4) {
        ADD_FAILURE() << out;
    }
    return c;
}

} // namespace

TEST_F(PlotixTest, SvgDocumentOfAPlot) {
    plotix::metafl("svg"); // keywords in any case
    plotix::disini();
    plotix::color("RED");
    plotix::line(100, 100, 1000, 500);
    plotix::shdpat(16);
    plotix::color("BLUE");
    square(1200, 300, 1800, 900);
    d::dbox(10.0f, 20.0f, 110.0f, 70.0f, 138); // green
    plotix::disfin();
    EXPECT_NE(console_text().find("Fileformat:  SVG  <<\n <<  Metafile: plotix.svg "),
              std::string::npos);
    EXPECT_EQ(plotix::getfst(), 1);

    const std::string svg = read_file("plotix.svg");
    EXPECT_EQ(run_command("xmllint --noout plotix.svg"), "");
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                        "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\"\n",
                        0),
              0u);
    // The page in plot units, 0.1 mm each.
    EXPECT_TRUE(has(svg, "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" "
                         "width=\"296.9mm\" height=\"209.9mm\" viewBox=\"0 0 2969 2099\">"));
    // A white page (the reversed background, as for PS and PDF), then the
    // red line, the blue polygon with its outline and the green box.
    EXPECT_TRUE(has(svg, "<rect x=\"0\" y=\"0\" width=\"2969\" height=\"2099\" fill=\"#ffffff\""));
    EXPECT_TRUE(has(svg, "<polyline points=\"100,100 1000,500\" stroke=\"#ff0000\"/>"));
    EXPECT_TRUE(has(svg, "<polygon points=\"1200,300 1800,300 1800,900 1200,900\" "
                         "fill=\"#0000ff\" fill-rule=\"evenodd\""));
    EXPECT_TRUE(has(svg, "<polyline points=\"1200,300 1800,300 1800,900 1200,900 1200,300\" "
                         "stroke=\"#0000ff\"/>"));
    EXPECT_TRUE(has(svg, "<rect x=\"10\" y=\"20\" width=\"100\" height=\"50\" fill=\"#00ff00\""));
    EXPECT_TRUE(svg.ends_with("</g>\n</svg>\n"));

    // A second plot takes the next free name; a page turned by the
    // orientation swap has its own viewBox.
    d::g.page.swap = 1;
    plotix::disini();
    plotix::line(100, 200, 300, 200);
    plotix::disfin();
    const std::string turned = read_file("plotix_1.svg");
    EXPECT_TRUE(has(turned, "width=\"209.9mm\" height=\"296.9mm\" viewBox=\"0 0 2099 2969\""));
    EXPECT_TRUE(has(turned, "<polyline points=\"200,2869 200,2669\""));
    EXPECT_EQ(run_command("xmllint --noout plotix_1.svg"), "");
}

TEST_F(PlotixTest, SvgLongPolylinesAndErase) {
    plotix::metafl("SVG");
    plotix::setfil("long.svg");
    plotix::disini();
    float x[500], y[500];
    for (int i = 0; i < 500; ++i) {
        x[i] = static_cast<float>(i);
        y[i] = 1000.0f + 300.0f * std::sin(0.05f * static_cast<float>(i));
    }
    for (int i = 1; i < 500; ++i) {
        plotix::line(static_cast<int>(x[i - 1]), static_cast<int>(y[i - 1]), static_cast<int>(x[i]),
                     static_cast<int>(y[i]));
    }
    plotix::erase(); // the page again over everything so far
    plotix::line(0, 0, 10, 10);
    plotix::disfin();
    const std::string svg = read_file("long.svg");
    EXPECT_EQ(run_command("xmllint --noout long.svg"), "");
    EXPECT_EQ(count(svg, "<rect x=\"0\" y=\"0\" width=\"2969\" height=\"2099\""), 2);
    EXPECT_LT(svg.find("<polyline points=\"0,1000"), svg.rfind("<rect x=\"0\" y=\"0\""));
    EXPECT_GT(svg.rfind("<polyline points=\"0,0 10,10\""), svg.rfind("<rect x=\"0\" y=\"0\""));
    for (const std::string& line : split_lines(svg)) EXPECT_LE(line.size(), 200u) << line;
}

TEST_F(PlotixTest, SvgRendersAsThePostScriptPage) {
    plot("PS", "scene.ps");
    plot("SVG", "scene.svg");
    plot("SVG", "without.svg", false);
    ASSERT_EQ(run_command("xmllint --noout scene.svg"), "");
    // The same page at the same size, within a small tolerance.
    const Comparison same = compare("scene.ps", "scene.svg");
    EXPECT_EQ(same.width, 1484);
    EXPECT_EQ(same.height, 1050);
    EXPECT_LT(same.mean, 1.5);
    EXPECT_LT(same.over40, 0.0005);
    // The comparison sees a missing square of 300 x 300 plot units.
    const Comparison missing = compare("scene.ps", "without.svg");
    EXPECT_GT(missing.over40, 0.01);
}
