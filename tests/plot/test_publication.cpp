// Pages for publication: the image size in pixels (imgpix), landscape vector
// pages shown upright (pagupr) and a white page in every format (pagbck),
// seen in the files through independent readers (PIL, ghostscript, poppler,
// rsvg-convert).
#include <cstdio>
#include <string>

#include "common/support.hpp"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
using test_common::run_command;
namespace fs = std::filesystem;

namespace {

// What page_colours.py tells of a rendered file.
struct Page {
    int width = 0, height = 0;
    double white = -1, dark = -1;
    std::vector<std::string> spots; // "r/g/b" of the pixels asked for
};

Page look(const std::string& file, const std::string& kind, const std::string& spots = "") {
    std::string out;
    const int rc = run_command(std::string("/usr/bin/python3 ") + PLOTIX_TEST_DATA +
                                   "/page_colours.py " + file + " " + kind + " " + spots,
                               out);
    Page p;
    std::istringstream words(out);
    if (rc != 0 || !(words >> p.width >> p.height >> p.white >> p.dark)) {
        ADD_FAILURE() << file << ": " << out;
        return p;
    }
    for (std::string w; words >> w;) p.spots.push_back(w);
    return p;
}

// A black line along y = 100 from x = 100 to 1000, a red one down x = 100
// from y = 100 to 600, a word, and a box in the foreground colour.
void scene() {
    plotix::color("FORE");
    plotix::line(100, 100, 1000, 100);
    plotix::shdpat(16);
    const int x[4] = {1000, 1300, 1300, 1000}, y[4] = {1000, 1000, 1300, 1300};
    plotix::areaf(x, y, 4);
    plotix::color("RED");
    plotix::line(100, 100, 100, 600);
    plotix::height(100);
    plotix::messag("UPRIGHT", 300, 300);
}

void plot(const char* format, const std::string& file) {
    plotix::metafl(format);
    plotix::setfil(file);
    plotix::disini();
    scene();
    plotix::disfin();
}

// The first and last column with ink (dark pixels) in rows y0 .. y1 - 1 of
// a picture, read by PIL.
std::string ink_columns(const std::string& file, int y0, int y1) {
    return run_command("/usr/bin/python3 -c \"import sys; from PIL import Image, ImageOps; "
                       "im = Image.open(sys.argv[1]).convert('L'); "
                       "band = ImageOps.invert(im.crop((0, " +
                       std::to_string(y0) + ", im.width, " + std::to_string(y1) +
                       "))).point(lambda v: 255 if v > 127 else 0); "
                       "box = band.getbbox(); print(box[0], box[2] - 1)\" " +
                       file);
}

} // namespace

TEST_F(PlotixTest, ImageSizeInPixels) {
    // The default: 853 x 603 pixels, lines one pixel wide.
    plot("PNG", "small.png");
    EXPECT_EQ(look("small.png", "image").width, 853);
    // 2970 x 2100: one pixel per plot unit; lines 3 pixels wide (as on the
    // PostScript page, 2.7 plot units), the text as large on the page.
    plotix::imgpix(2970, 2100);
    plot("PNG", "large.png");
    Page large = look("large.png", "image", "500,98 500,99 500,100 500,101 500,102");
    EXPECT_EQ(large.width, 2970);
    EXPECT_EQ(large.height, 2100);
    EXPECT_EQ(large.spots, (std::vector<std::string>{"0/0/0", "255/255/255", "255/255/255",
                                                     "255/255/255", "0/0/0"}));
    Page small = look("small.png", "image", "143,28 143,29 143,30");
    EXPECT_EQ(small.spots, (std::vector<std::string>{"0/0/0", "255/255/255", "0/0/0"}));
    // The word: columns 86..155 of the small image, 300..540 of the large.
    int a0 = 0, a1 = 0, b0 = 0, b1 = 0;
    ASSERT_EQ(std::sscanf(ink_columns("small.png", 80, 115).c_str(), "%d %d", &a0, &a1), 2);
    ASSERT_EQ(std::sscanf(ink_columns("large.png", 290, 400).c_str(), "%d %d", &b0, &b1), 2);
    EXPECT_NEAR(static_cast<double>(b1 - b0) / (a1 - a0), 2969.0 / 852.0, 0.15);

    // Any image format, any shape: the page as large as it fits.
    plotix::imgpix(600, 600);
    for (const char* format : {"BMP", "TIFF", "PPM", "PNG"}) {
        plot(format, std::string("square.") + format);
        const Page p = look(std::string("square.") + format, "image", "300,300 300,500");
        EXPECT_EQ(p.width, 600) << format;
        EXPECT_EQ(p.height, 600) << format;
        // 599 / 2969 pixels per unit: the page ends at row 424.
        EXPECT_EQ(p.spots.at(1), "0/0/0") << format; // below the page: background
    }
    plotix::imgpix(0, 0);
    plot("BMP", "again.bmp");
    EXPECT_EQ(look("again.bmp", "image").width, 853);

    console_text();
    plotix::imgpix(1, 100);
    plotix::imgpix(100, 32768);
    plotix::disini();
    plotix::imgpix(100, 100);
    plotix::disfin();
    EXPECT_EQ(console_text().rfind(" <<<< Warning   2: Incorrect parameter in imgpix!   (   1)\n"
                                   " <<<< Warning   2: Incorrect parameter in imgpix!   (32768)\n"
                                   " <<<< Warning   3: Incorrect level in imgpix!   (   1)\n",
                                   0),
              0u);
    plot("PNG", "unchanged.png");
    EXPECT_EQ(look("unchanged.png", "image").width, 853);
}

TEST_F(PlotixTest, LandscapeVectorPagesShownUpright) {
    // As the paper lies: portrait pages with the plot turned.
    plot("PDF", "lying.pdf");
    plot("PS", "lying.ps");
    EXPECT_NE(run_command("pdfinfo lying.pdf").find("Page rot:        0\n"), std::string::npos);
    Page lying = look("lying.pdf", "pdf");
    EXPECT_LT(lying.width, lying.height);
    lying = look("lying.ps", "ps");
    EXPECT_LT(lying.width, lying.height);

    plotix::pagupr(1);
    // PDF: the page turned by 90 degrees. The black line runs along the top
    // of the shown page (0.26334 points per unit), the red one down its left.
    plot("PDF", "upright.pdf");
    EXPECT_NE(run_command("pdfinfo upright.pdf").find("Page rot:        90\n"), std::string::npos);
    Page pdf = look("upright.pdf", "pdf", "150,26 26,100 26,300 150,100");
    EXPECT_EQ(pdf.width, 782);
    EXPECT_EQ(pdf.height, 553);
    EXPECT_EQ(pdf.spots,
              (std::vector<std::string>{"0/0/0", "255/0/0", "255/255/255", "255/255/255"}));
    // PostScript: a landscape paper, the drawing 21 and 28 points from its
    // edges at 0.26335 points per unit.
    for (const char* format : {"PS", "POST", "PSCL"}) {
        plot(format, std::string("upright.") + format);
        const Page p = look(std::string("upright.") + format, "ps");
        EXPECT_EQ(p.width, 839) << format;
        EXPECT_EQ(p.height, 596) << format;
    }
    const Page ps = look("upright.PS", "ps", "150,47 54,100 54,300 150,100");
    EXPECT_EQ(ps.spots,
              (std::vector<std::string>{"0/0/0", "255/0/0", "255/255/255", "255/255/255"}));
    // EPS: a landscape bounding box.
    plot("EPS", "upright.eps");
    Page eps = look("upright.eps", "eps");
    EXPECT_GT(eps.width, eps.height);
    EXPECT_NE(read_file("upright.eps").find("%%BoundingBox:  28 21 811 575\n"), std::string::npos);
    // SVG is upright either way.
    plot("SVG", "upright.svg");
    Page svg = look("upright.svg", "svg");
    EXPECT_GT(svg.width, svg.height);
    // A page higher than wide stays as it is.
    plotix::pagupr(0);
    plot("PDF", "again.pdf");
    EXPECT_NE(run_command("pdfinfo again.pdf").find("Page rot:        0\n"), std::string::npos);

    console_text();
    plotix::pagupr(2);
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in pagupr!   (   2)\n");
}

TEST_F(PlotixTest, WhitePageWithDarkDrawingInEveryFormat) {
    // By default the images are drawn on black, and so is the page of PSCL.
    plot("BMP", "default.bmp");
    EXPECT_LT(look("default.bmp", "image").white, 0.05); // the white box
    plot("PSCL", "default.psc");
    EXPECT_GT(look("default.psc", "ps").dark, 0.5);

    plotix::pagbck("WHITE");
    const struct {
        const char* format;
        const char* kind;
    } cases[] = {{"BMP", "image"}, {"TIFF", "image"}, {"PNG", "image"}, {"PPM", "image"},
                 {"PS", "ps"},     {"POST", "ps"},    {"PSCL", "ps"},   {"EPS", "eps"},
                 {"PDF", "pdf"},   {"SVG", "svg"}};
    for (const auto& c : cases) {
        const std::string file = std::string("white.") + c.format;
        plot(c.format, file);
        const Page p = look(file, c.kind);
        EXPECT_GT(p.white, 0.9) << c.format;
        EXPECT_GT(p.dark, 0.005) << c.format; // the foreground box
    }
    plotix::pagbck("AUTO");
    plot("BMP", "auto.bmp");
    EXPECT_LT(look("auto.bmp", "image").white, 0.05);

    console_text();
    plotix::pagbck("BLUE");
    EXPECT_EQ(console_text(), " <<<< Warning   2: Incorrect parameter in pagbck!   (BLUE)\n");
}
