// The raster image: lines and boxes pixel by pixel, the read-out, and the
// image files written at disfin, read back by independent readers.
#include <climits>
#include <cstdlib>
#include <set>
#include <utility>

#include "common/ppm.hpp"
#include "common/support.hpp"
#include "core/colour.h"
#include "drivers/image_writers.h"
#include "drivers/raster.h"
#include "pipeline/pipeline.h"
#include "pipeline/style.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
using test_common::run_command;
namespace d = plotix::detail;
namespace fs = std::filesystem;

namespace {

using Pixels = std::set<std::pair<int, int>>;

struct RasterTest : PlotixTest {
    void SetUp() override {
        PlotixTest::SetUp();
        img.qqvvlt(1, d::kRainbow);
    }
    void TearDown() override {
        d::set_alloc_failure({});
        PlotixTest::TearDown();
    }
    // A fresh indexed 853 x 603 image with colour index 7 current.
    void fresh() {
        int w = 0, h = 0;
        ASSERT_EQ(img.qqvini(2969, 2099, w, h, 0, 0, 0), 0);
        img.qqvclr(7);
    }
    // The pixels of the w x h corner of the image that are not index 0.
    Pixels lit(int w, int h) const {
        Pixels out;
        std::vector<unsigned char> row(static_cast<std::size_t>(w));
        for (int y = 0; y < h; ++y) {
            img.qqvrdr(row.data(), 0, y, w, 1);
            for (int x = 0; x < w; ++x) {
                if (row[x] != 0) out.insert({x, y});
            }
        }
        return out;
    }
    int index_at(int x, int y) const {
        unsigned char v = 0;
        img.qqvrdr(&v, x, y, 1, 1);
        return v;
    }
    d::RasterImage img;
};

} // namespace

TEST_F(RasterTest, ImageSizeRowsAndBackground) {
    int w = 0, h = 0;
    ASSERT_EQ(img.qqvini(2969, 2099, w, h, 0, 0, 0), 0);
    EXPECT_EQ(w, 853);
    EXPECT_EQ(h, 603);
    EXPECT_EQ(img.row_bytes(), 856);
    EXPECT_TRUE(lit(853, 603).empty()); // all colour index 0
    ASSERT_EQ(img.qqvini(2099, 2969, w, h, 0, 0, 0), 0);
    EXPECT_EQ(w, 603);
    EXPECT_EQ(h, 853);
    EXPECT_EQ(img.row_bytes(), 604);
    w = 5, h = 2;
    ASSERT_EQ(img.qqvini(2969, 2099, w, h, 1, 2, 1), 0); // RGB, white background
    EXPECT_EQ(img.row_bytes(), 16);
    unsigned char rgb[15];
    img.qqvrdr(rgb, 0, 1, -5, 1);
    for (unsigned char c : rgb) EXPECT_EQ(c, 255);
    // Sizes beyond the limit and empty sizes are refused as no memory.
    w = 70000, h = 70000;
    EXPECT_EQ(img.qqvini(2969, 2099, w, h, 1, 0, 0), 1);
    EXPECT_FALSE(img.ready());
    w = 0, h = 10;
    EXPECT_EQ(img.qqvini(2969, 2099, w, h, 1, 0, 0), 1);
    d::set_alloc_failure([](std::string_view what, std::size_t) { return what == "raster"; });
    w = 10, h = 10;
    EXPECT_EQ(img.qqvini(2969, 2099, w, h, 1, 0, 0), 1);
    img.qqvlin(0, 0, 5, 5); // no image: nothing happens
    img.qqvfll(0, 0, 5, 5, 3);
    img.qqvers();
}

TEST_F(RasterTest, LinesSetTheStatedPixels) {
    fresh();
    img.qqvlin(0, 0, 4, 2);
    EXPECT_EQ(lit(10, 10), (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}));
    EXPECT_EQ(index_at(2, 1), 7);
    fresh();
    img.qqvlin(4, 2, 0, 0);
    EXPECT_EQ(lit(10, 10), (Pixels{{4, 2}, {3, 2}, {2, 1}, {1, 1}, {0, 0}}));
    fresh();
    img.qqvlin(3, 3, 3, 3);
    EXPECT_EQ(lit(10, 10), (Pixels{{3, 3}}));
    fresh();
    img.qqvlin(5, 1, 2, 1); // horizontal, backwards
    EXPECT_EQ(lit(10, 10), (Pixels{{2, 1}, {3, 1}, {4, 1}, {5, 1}}));
    fresh();
    img.qqvlin(1, 0, 2, 4); // steep: y is the major axis
    EXPECT_EQ(lit(10, 10), (Pixels{{1, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 4}}));
    fresh();
    img.qqvlin(0, 0, 3, 3); // diagonal
    EXPECT_EQ(lit(10, 10), (Pixels{{0, 0}, {1, 1}, {2, 2}, {3, 3}}));

    // Pixels off the image are dropped, the rest of the line stays.
    fresh();
    img.qqvlin(-3, 2, 2, 2);
    img.qqvlin(850, 600, 856, 606);
    img.qqvlin(-2, -2, 1, 1);
    Pixels expect{{0, 2}, {1, 2}, {2, 2}, {850, 600}, {851, 601}, {852, 602}, {0, 0}, {1, 1}};
    EXPECT_EQ(lit(853, 603), expect);
    // Wild coordinates are cut down and cannot run for ever.
    fresh();
    img.qqvlin(INT_MIN, 5, INT_MAX, 5);
    img.qqvlin(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    img.qqvlin(-2000000000, 7, 10, 7);
    const Pixels all = lit(853, 603);
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](auto& p) { return p.second == 5; }), 853);
    EXPECT_EQ(all.count({10, 7}), 1u);
    EXPECT_EQ(all.count({11, 7}), 0u);

    // The current colour, also through the palette in RGB mode.
    int w = 4, h = 1;
    ASSERT_EQ(img.qqvini(2969, 2099, w, h, 1, 0, 1), 0);
    img.qqvclr(138 + 256); // taken modulo 256: green
    img.qqvlin(1, 0, 2, 0);
    unsigned char rgb[12];
    img.qqvrdr(rgb, 0, 0, -4, 1);
    EXPECT_EQ(std::vector<int>(rgb, rgb + 12),
              (std::vector<int>{0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0}));
}

TEST_F(RasterTest, WideLinesAreSquaresAlongTheLine) {
    fresh();
    img.set_line_width(3);
    img.qqvlin(5, 5, 8, 5); // one pixel either side of the row, and of the ends
    Pixels expect;
    for (int x = 4; x <= 9; ++x) {
        for (int y = 4; y <= 6; ++y) expect.insert({x, y});
    }
    EXPECT_EQ(lit(20, 20), expect);
    fresh();
    img.set_line_width(2); // the extra pixel below and right of the line
    img.qqvlin(5, 5, 5, 7);
    EXPECT_EQ(lit(20, 20),
              (Pixels{{5, 5}, {6, 5}, {5, 6}, {6, 6}, {5, 7}, {6, 7}, {5, 8}, {6, 8}}));
    fresh();
    img.set_line_width(0); // at least one pixel
    img.qqvlin(0, 0, 0, 0);
    EXPECT_EQ(lit(20, 20), (Pixels{{0, 0}}));
    // Pixels of a wide line off the image are dropped.
    fresh();
    img.set_line_width(5);
    img.qqvlin(0, 0, 0, 0);
    EXPECT_EQ(lit(20, 20).size(), 9u);
}

TEST_F(RasterTest, BoxesFillInclusiveRectangles) {
    fresh();
    img.qqvfll(4, 4, 4, 4, 9);
    EXPECT_EQ(lit(10, 10), (Pixels{{4, 4}}));
    EXPECT_EQ(index_at(4, 4), 9);
    img.qqvlin(0, 0, 0, 0); // the current colour stayed 7
    EXPECT_EQ(index_at(0, 0), 7);
    fresh();
    img.qqvfll(1, 2, 3, 3, 300); // colour index modulo 256
    EXPECT_EQ(lit(10, 10), (Pixels{{1, 2}, {2, 2}, {3, 2}, {1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(index_at(3, 3), 44);
    fresh();
    img.qqvfll(850, -5, 900, 1, 3); // cut to the image
    img.qqvfll(5, 5, 4, 6, 3);      // inverted: nothing
    EXPECT_EQ(lit(853, 603), (Pixels{{850, 0}, {851, 0}, {852, 0}, {850, 1}, {851, 1}, {852, 1}}));
    img.qqvers();
    EXPECT_TRUE(lit(853, 603).empty());

    int w = 3, h = 2;
    ASSERT_EQ(img.qqvini(2969, 2099, w, h, 1, 0, 1), 0);
    img.qqvfll(0, 1, 1, 1, 254); // red in RGB mode
    unsigned char rgb[9];
    img.qqvrdr(rgb, 0, 1, -3, 1);
    EXPECT_EQ(std::vector<int>(rgb, rgb + 9), (std::vector<int>{255, 0, 0, 255, 0, 0, 0, 0, 0}));
}

TEST_F(RasterTest, ReadOutAndRowWrite) {
    // Indexed: indices as they are, or their palette colours.
    int w = 4, h = 3;
    ASSERT_EQ(img.qqvini(2969, 2099, w, h, 1, 0, 0), 0);
    const unsigned char row[4] = {0, 30, 138, 255};
    img.qqvrow(row, 0, 1, 4);
    unsigned char out[24] = {};
    img.qqvrdr(out, 0, 0, 4, 3);
    EXPECT_EQ(std::vector<int>(out, out + 12),
              (std::vector<int>{0, 0, 0, 0, 0, 30, 138, 255, 0, 0, 0, 0}));
    img.qqvrdr(out, 1, 1, -3, 1);
    EXPECT_EQ(std::vector<int>(out, out + 9),
              (std::vector<int>{0, 0, 255, 0, 255, 0, 255, 255, 255}));
    // Beyond the image the read-out gives zeros.
    img.qqvrdr(out, 3, 1, 2, 1);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 0);
    // RGB triples into an indexed image become the nearest indices.
    const unsigned char triples[6] = {255, 0, 0, 0, 0, 250};
    img.qqvrow(triples, 0, 2, -2);
    img.qqvrdr(out, 0, 2, 2, 1);
    EXPECT_EQ(out[0], 254); // exact
    EXPECT_EQ(out[1], 30);  // (0, 0, 255) is nearest

    // RGB image: triples as they are, indices by the nearest colour.
    ASSERT_EQ(img.qqvini(2969, 2099, w, h, 1, 0, 1), 0);
    const unsigned char px[6] = {1, 2, 3, 0, 255, 0};
    img.qqvrow(px, 2, 0, -2);
    img.qqvrdr(out, 2, 0, -2, 1);
    EXPECT_EQ(std::vector<int>(out, out + 6), (std::vector<int>{1, 2, 3, 0, 255, 0}));
    img.qqvrdr(out, 0, 0, 4, 1);
    EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{0, 0, 0, 138}));
    const unsigned char idx[1] = {192};
    img.qqvrow(idx, 0, 2, 1);
    img.qqvrdr(out, 0, 2, -1, 1);
    EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{255, 255, 0}));
}

TEST_F(RasterTest, NearestColourKeepsTheFirstOnTies) {
    std::uint32_t t[256];
    for (int i = 0; i < 256; ++i) t[i] = 0x808080;
    t[3] = 0x000010;
    t[5] = 0x000010; // the same colour again
    t[9] = 0x100000;
    img.qqvvlt(0, t);
    EXPECT_EQ(img.qqgind(0, 0, 16), 3);
    EXPECT_EQ(img.qqgind(0, 0, 20), 3); // distance 4 to 3 and 5: the first wins
    EXPECT_EQ(img.qqgind(8, 0, 8), 3);  // distance 16 to 3 and to 9: the first wins
    EXPECT_EQ(img.qqgind(16, 0, 1), 9); // nearest
    EXPECT_EQ(img.qqgind(128, 128, 128), 0);
}

namespace {

// A plot of a red line and a blue box on the default page; its pixels:
// scale 602 / 2099, so the line lies on row 29 from column 29 to 287 and the
// box covers columns 430..459 and rows 287..315.
void red_line_blue_box() {
    plotix::color("RED");
    plotix::line(100, 100, 1000, 100);
    d::dbox(1500.0f, 1000.0f, 1600.0f, 1100.0f, 30);
}

// Image format, mode, size and the RGB colours of a few pixels, by PIL.
std::string pil_pixels(const std::string& file) {
    return run_command("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                       "im = Image.open(sys.argv[1]); im.load(); rgb = im.convert('RGB'); "
                       "print(im.format, im.mode, im.size[0], im.size[1], "
                       "*[rgb.getpixel(p) for p in ((29, 29), (287, 29), (288, 29), (100, 30), "
                       "(430, 287), (459, 315), (460, 315), (429, 300))])\" " +
                       file);
}

constexpr const char* kPixels = " 853 603 (255, 0, 0) (255, 0, 0) (0, 0, 0) (0, 0, 0) (0, 0, 255) "
                                "(0, 0, 255) (0, 0, 0) (0, 0, 0)\n";

} // namespace

TEST_F(RasterTest, PlotDrawsIntoTheImage) {
    // The image of a plot, seen in its PPM file: red line, blue box, black
    // page.
    plotix::metafl("PPM");
    plotix::setfil("plot.ppm");
    plotix::disini();
    red_line_blue_box();
    plotix::disfin();
    test_common::Image pic;
    ASSERT_TRUE(pic.read("plot.ppm"));
    ASSERT_EQ(pic.width, 853);
    ASSERT_EQ(pic.height, 603);
    const test_common::Pixel red{255, 0, 0}, blue{0, 0, 255}, black{0, 0, 0};
    Pixels line, box;
    for (int y = 0; y < pic.height; ++y) {
        for (int x = 0; x < pic.width; ++x) {
            const test_common::Pixel p = pic.at(x, y);
            if (p == red && y == 29) line.insert({x, y});
            if (p == blue) box.insert({x, y});
        }
    }
    EXPECT_EQ(line.size(), 287u - 29u + 1u);
    EXPECT_EQ(line.count({29, 29}), 1u);
    EXPECT_EQ(line.count({287, 29}), 1u);
    EXPECT_EQ(pic.at(288, 29), black);
    EXPECT_EQ(box.size(), 30u * 29u);
    EXPECT_EQ(*box.begin(), std::make_pair(430, 287));
    EXPECT_EQ(*box.rbegin(), std::make_pair(459, 315));

    // A line across the whole page reaches both corners of the image.
    plotix::setfil("diagonal.ppm");
    plotix::disini();
    plotix::color("RED");
    plotix::line(0, 0, 2969, 2099);
    plotix::disfin();
    ASSERT_TRUE(pic.read("diagonal.ppm"));
    EXPECT_EQ(pic.at(0, 0), red);
    EXPECT_EQ(pic.at(852, 602), red);
    EXPECT_EQ(pic.at(852, 0), black);

    // Erased: the page is black again.
    plotix::setfil("erased.ppm");
    plotix::disini();
    red_line_blue_box();
    plotix::erase();
    plotix::disfin();
    ASSERT_TRUE(pic.read("erased.ppm"));
    bool all_black = true;
    for (int y = 0; y < pic.height; ++y) {
        for (int x = 0; x < pic.width; ++x) all_black = all_black && pic.at(x, y) == black;
    }
    EXPECT_TRUE(all_black);
    console_text();

    // The image in memory only has no file.
    plotix::metafl("VIRT");
    plotix::setfil("virtual");
    plotix::disini();
    red_line_blue_box();
    plotix::disfin();
    EXPECT_FALSE(fs::exists("virtual"));
    EXPECT_EQ(plotix::getfst(), 0);
    EXPECT_NE(
        console_text().find(" <<  Metafile:                                                   <<"),
        std::string::npos);
}

TEST_F(RasterTest, ImageFilesWrittenAtDisfin) {
    const struct {
        const char* keyword;
        const char* file;
        const char* format;
        const char* mode;
    } cases[] = {{"BMP", "plotix.bmp", "BMP", "P"},
                 {"TIFF", "plotix.tif", "TIFF", "P"},
                 {"PNG", "plotix.png", "PNG", "P"},
                 {"PPM", "plotix.ppm", "PPM", "RGB"}};
    for (const auto& c : cases) {
        plotix::metafl(c.keyword);
        plotix::disini();
        red_line_blue_box();
        EXPECT_FALSE(fs::exists(c.file)); // written only at disfin
        plotix::disfin();
        const std::string text = console_text();
        EXPECT_EQ(text.find("<<<< Warning"), std::string::npos) << text;
        EXPECT_NE(text.find("Metafile: " + std::string(c.file) + " "), std::string::npos) << text;
        EXPECT_EQ(pil_pixels(c.file), std::string(c.format) + " " + c.mode + kPixels) << c.keyword;
    }
    const std::string info = run_command("tiffinfo plotix.tif");
    EXPECT_NE(info.find("Image Width: 853 Image Length: 603"), std::string::npos) << info;
    EXPECT_NE(info.find("Photometric Interpretation: palette color"), std::string::npos) << info;
    EXPECT_EQ(info.find("rror"), std::string::npos) << info;
    // The small table writes a palette of 9 entries into the BMP.
    plotix::metafl("BMP");
    plotix::setfil("small.bmp");
    plotix::disini();
    plotix::setvlt("SMAL");
    plotix::disfin();
    EXPECT_EQ(fs::file_size("small.bmp"), 516258u);
}

TEST_F(RasterTest, ShortPalettesHoldEveryIndexOfTheImage) {
    // Under the small tables the palette of BMP and PNG files is cut to 9 or
    // 16 entries; an image with higher indices (drawn before the table
    // changed, or chosen with setclr) gets a palette up to its highest one.
    for (const char* format : {"BMP", "PNG"}) {
        for (const char* table : {"SMAL", "VGA"}) {
            plotix::metafl(format);
            const std::string file = std::string("short.") + format;
            plotix::setfil(file);
            plotix::disini();
            plotix::line(100, 100, 1000, 100); // foreground 255 of the rainbow table
            plotix::setvlt(table);
            plotix::setclr(200);
            plotix::line(100, 1000, 1000, 1000); // entry 200, kept from the rainbow table
            const std::uint32_t c200 = d::g.colour.table[200], c255 = d::g.colour.table[255];
            plotix::disfin();
            auto rgb = [](std::uint32_t c) {
                return "(" + std::to_string(c >> 16 & 255) + ", " + std::to_string(c >> 8 & 255) +
                       ", " + std::to_string(c & 255) + ")";
            };
            EXPECT_EQ(run_command("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                  "im = Image.open(sys.argv[1]); im.load(); "
                                  "print(len(im.getpalette()) // 3, im.getpixel((29, 29)), "
                                  "im.getpixel((29, 287)), im.convert('RGB').getpixel((29, 29)), "
                                  "im.convert('RGB').getpixel((29, 287)))\" " +
                                  file),
                      "256 255 200 " + rgb(c255) + " " + rgb(c200) + "\n")
                << format << " " << table;
            fs::remove(file);
        }
    }
    // Only 9 entries when every index is below 9.
    plotix::metafl("PNG");
    plotix::setfil("nine.png");
    plotix::disini();
    plotix::setvlt("SMAL");
    plotix::setclr(8);
    plotix::line(100, 100, 1000, 100);
    plotix::disfin();
    EXPECT_EQ(run_command("/usr/bin/python3 -c \"from PIL import Image; "
                          "im = Image.open('nine.png'); print(len(im.getpalette()) // 3)\""),
              "9\n");
}

TEST_F(RasterTest, RawImageFile) {
    plotix::metafl("IMAG");
    plotix::disini();
    red_line_blue_box();
    plotix::disfin();
    const std::string img = read_file("plotix.img");
    ASSERT_EQ(img.size(), 80u + 856u * 603u);
    EXPECT_EQ(img.substr(0, 80),
              "!Bitmap PLOTIX VIRT   853   603     8   856     8    32     0     1"
              "     0       ");
    EXPECT_EQ(static_cast<unsigned char>(img[80 + 29 * 856 + 29]), 254);
    EXPECT_EQ(static_cast<unsigned char>(img[80 + 29 * 856 + 28]), 0);
    EXPECT_EQ(static_cast<unsigned char>(img[80 + 315 * 856 + 459]), 30);
    EXPECT_EQ(img[80 + 315 * 856 + 853], 0); // row padding
}

TEST_F(RasterTest, NameIsResolvedAgainAtDisfin) {
    plotix::metafl("BMP");
    plotix::disini();
    touch("plotix.bmp"); // someone else made the file meanwhile
    plotix::disfin();
    EXPECT_EQ(read_file("plotix.bmp"), "x");
    EXPECT_EQ(read_file("plotix_1.bmp").substr(0, 2), "BM");
    EXPECT_NE(console_text().find("Metafile: plotix_1.bmp "), std::string::npos);
}

TEST_F(RasterTest, FailuresBecomeWarningsAndThePlotGoesOn) {
    // No memory for the image: warning 53, the plot runs without output.
    d::set_alloc_failure([](std::string_view what, std::size_t) { return what == "raster"; });
    plotix::metafl("BMP");
    plotix::disini();
    EXPECT_EQ(console_text(), " <<<< Warning  53: Not enough memory in disini!\n");
    red_line_blue_box();
    plotix::erase();
    plotix::disfin();
    std::string text = console_text();
    EXPECT_NE(text.find("Warnings: 1 "), std::string::npos);
    EXPECT_NE(text.find("Vectors : 2 "), std::string::npos);
    EXPECT_NE(text.find(" <<  Metafile:                                                   <<"),
              std::string::npos);
    EXPECT_TRUE(fs::is_empty(dir));

    // No memory for a writer's row: warning 53 at disfin, no partial file.
    d::set_alloc_failure([](std::string_view what, std::size_t) { return what == "row"; });
    for (const char* keyword : {"BMP", "TIFF", "PPM"}) {
        plotix::metafl(keyword);
        plotix::disini();
        plotix::disfin();
        text = console_text();
        EXPECT_EQ(text.substr(0, text.find('\n') + 1),
                  " <<<< Warning  53: Not enough memory in disfin!\n")
            << keyword;
        EXPECT_NE(text.find(" <<  Metafile:                                                   <<"),
                  std::string::npos);
    }
    EXPECT_TRUE(fs::is_empty(dir));
    d::set_alloc_failure({});

    // A file that cannot be created: warning 36 at disini, with its name.
    for (const char* keyword : {"TIFF", "IMAG", "PNG", "PPM", "BMP"}) {
        plotix::metafl(keyword);
        plotix::setfil("missing/dir/out");
        plotix::disini();
        EXPECT_EQ(console_text(), " <<<< Warning  36: File error in disini!   (missing/dir/out)\n")
            << keyword;
        plotix::disfin();
        text = console_text();
        EXPECT_EQ(text.find("<<<< Warning"), std::string::npos) << keyword << text;
        EXPECT_EQ(plotix::getfst(), -1);
    }
    EXPECT_TRUE(fs::is_empty(dir));
}
