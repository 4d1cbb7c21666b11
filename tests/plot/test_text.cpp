// Stroked fonts and string drawing, seen through the recording driver on the
// metafile transform (unrounded plot units).
#include <algorithm>
#include <cmath>
#include <string>

#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "test_support.h"
#include "text/glyphs.h"
#include "text/text.h"

using namespace plotix_test;
namespace d = plotix::detail;
using d::g;

namespace {

struct Pt {
    double x, y;
};
using Strokes = std::vector<std::vector<Pt>>;

struct Box {
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    void add(const Pt& p) {
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
};

class Text : public PlotixTest {
  protected:
    void SetUp() override {
        PlotixTest::SetUp();
        record();
        plotix::metafl("GKSL"); // unrounded page plot units
        plotix::disini();
        events.clear();
    }
    // Strokes what is pending and forgets what the driver saw.
    void clear() {
        d::qqstrk();
        events.clear();
    }
    // The strokes that reached the driver, in page plot units.
    Strokes strokes() {
        d::qqstrk();
        Strokes out;
        for (const Event& e : events) {
            if (e.kind != 'v') continue;
            if (e.op == 3 || out.empty()) out.emplace_back();
            out.back().push_back({e.x, e.y});
        }
        return out;
    }
    Box ink() {
        Box b;
        for (const auto& s : strokes())
            for (const Pt& p : s) b.add(p);
        return b;
    }
    static double complex_width(int code) {
        return d::gmxcln(*d::alphabet_data(d::kFamilyComplex, 1), code - 31);
    }
    // Lowest and highest y of a glyph of the complex font in glyph units.
    static std::pair<double, double> complex_ybounds(int code) {
        double lo = 1e9, hi = -1e9;
        d::glyph_strokes(*d::alphabet_data(d::kFamilyComplex, 1), code - 31,
                         [&](double, double y, bool) {
                             lo = std::min(lo, y);
                             hi = std::max(hi, y);
                         });
        return {lo, hi};
    }
};

} // namespace

TEST_F(Text, ComplexCapitalAThroughTheDrawingPath) {
    plotix::complx();
    plotix::messag("A", 0, 0);
    Strokes s = strokes();
    ASSERT_EQ(s.size(), 5u);
    // Left serif, the legs, the right serif (offset 12 units), the second
    // line of the right leg and the bar; 1.75 plot units per glyph unit in
    // x, 35/21 in y, baseline at y = 35.
    EXPECT_NEAR(s[0][0].x, 0.0, 1e-4);
    EXPECT_NEAR(s[0][0].y, 35.0, 1e-4);
    EXPECT_NEAR(s[0][1].x, 10.5, 1e-4);
    ASSERT_EQ(s[1].size(), 3u);
    EXPECT_NEAR(s[1][1].x, 9 * 1.75, 1e-4);
    EXPECT_NEAR(s[1][1].y, 0.0, 1e-4);
    EXPECT_NEAR(s[2][0].x, 12 * 1.75, 1e-4);
    EXPECT_NEAR(s[2][1].x, 31.5, 1e-4);
    EXPECT_NEAR(s[4][0].y, 35.0 - 6 * 35.0 / 21, 1e-4);
    Box b = ink();
    EXPECT_NEAR(b.x1 - b.x0, 31.5, 1e-4);
    EXPECT_NEAR(b.y1 - b.y0, 35.0, 1e-4);
    // The next character starts 31.5 + 9 further.
    EXPECT_NEAR(g.text.x, 40.5, 1e-4);
    EXPECT_NEAR(g.text.y, 35.0, 1e-4);
    clear();
    plotix::messag("A", 999, 999);
    EXPECT_NEAR(strokes()[0][0].x, 40.5, 1e-4);
    EXPECT_NEAR(g.text.x, 81.0, 1e-4);
}

TEST_F(Text, DefaultFontAdvancesHeightMinusOne) {
    EXPECT_EQ(g.text.family, d::kFamilyDefault); // loaded at disini
    plotix::height(50);
    plotix::messag("AW.i", 100, 200);
    EXPECT_NEAR(g.text.x, 100 + 4 * 49.0, 1e-3);
    EXPECT_NEAR(g.text.y, 249.0, 1e-4);
    Box b = ink();
    EXPECT_GE(b.x0, 100.0);
    EXPECT_LE(b.x1, 100 + 4 * 49.0);
    EXPECT_GE(b.y0, 200.0 - 1e-3); // within the cell of 7 units above the baseline
    EXPECT_LE(b.y1, 249.0 + 1e-3);
    EXPECT_EQ(plotix::nlmess("AW.i"), 4 * 49);
    EXPECT_EQ(plotix::nlmess("AW.i    "), 4 * 49);
    EXPECT_EQ(plotix::nlmess("A W"), 3 * 49);
}

TEST_F(Text, GlyphAtAngle90RunsUpwards) {
    plotix::complx();
    plotix::angle(90);
    plotix::messag("A", 100, 500);
    Strokes s = strokes();
    ASSERT_EQ(s.size(), 5u);
    // The baseline starts 35 units to the right of the start point and runs
    // towards decreasing y; the glyph's height points to decreasing x.
    EXPECT_NEAR(s[0][0].x, 135.0, 1e-3);
    EXPECT_NEAR(s[0][0].y, 500.0, 1e-3);
    EXPECT_NEAR(s[0][1].y, 500.0 - 10.5, 1e-3);
    EXPECT_NEAR(s[1][1].x, 100.0, 1e-3); // apex
    EXPECT_NEAR(s[1][1].y, 500.0 - 9 * 1.75, 1e-3);
    EXPECT_NEAR(g.text.y, 500.0 - 40.5, 1e-3);
    EXPECT_NEAR(g.text.x, 135.0, 1e-3);
    // Widths do not depend on the angle.
    const int flat = [] {
        plotix::angle(0);
        return plotix::nlmess("Angle");
    }();
    plotix::angle(37);
    EXPECT_NEAR(plotix::nlmess("Angle"), flat, 1);
}

TEST_F(Text, WidthsAndBlanks) {
    plotix::complx();
    const double wb = complex_width('B') * 1.75;
    EXPECT_EQ(plotix::nlmess("AB"), std::lround(31.5 + 9 + wb));
    EXPECT_EQ(plotix::nlmess("AB "), plotix::nlmess("AB"));
    EXPECT_EQ(plotix::nlmess("A B"), std::lround(31.5 + 9 + 9 * 1.75 + 9 + wb));
    EXPECT_EQ(plotix::nlmess(""), 0);
    EXPECT_EQ(plotix::nlmess("     "), 0);
    // Codes below 32, bytes beyond the alphabet and glyph numbers without a
    // record advance by the space width and draw nothing.
    const std::string blanks[] = {std::string("A\x01") + "A",
                                  "A\xbb"
                                  "A",
                                  "A\xff"
                                  "A",
                                  std::string("A\0A", 3)};
    plotix::messag("A A", 0, 0);
    const std::size_t strokes_aa = strokes().size();
    for (const std::string& s : blanks) {
        EXPECT_EQ(plotix::nlmess(s), plotix::nlmess("A A")) << int(s[1]);
        clear();
        plotix::messag(s, 0, 0);
        EXPECT_EQ(strokes().size(), strokes_aa) << int(s[1]);
    }
    // The accented letters and the inverted marks of the complex font draw.
    clear();
    plotix::messag("\x82\xb9\xba", 0, 0);
    EXPECT_GE(strokes().size(), 3u);
}

TEST_F(Text, CodeCoverageOfEveryAlphabet) {
    struct Font {
        void (*load)();
        int family;
        int glyphs[6];
        int records[6];
    };
    const Font fonts[] = {
        {plotix::complx, 3, {155, 95, 95, 102, 102, 95}, {154, 52, 52, 29, 59, 66}},
        {plotix::disalf, 1, {132, 95, 95, 102, 102, 95}, {101, 52, 52, 101, 59, 66}},
    };
    for (const Font& f : fonts) {
        f.load();
        ASSERT_EQ(g.text.family, f.family);
        ASSERT_EQ(g.text.nalf, 6);
        for (int k = 1; k <= 6; ++k) {
            EXPECT_EQ(g.text.alf[k - 1].glyphs, f.glyphs[k - 1]);
            for (int gnum = 2; gnum <= 255; ++gnum) {
                clear();
                g.text.x = 1000.0f;
                g.text.y = 1000.0f;
                d::qqglyph(k, gnum);
                const bool drawn = !strokes().empty();
                // The Greek alphabets have 24 letters: Y, Z, y and z are empty.
                const bool greek_gap = k == 2 && (gnum == 26 || gnum == 27 || gnum >= 52);
                const bool has =
                    gnum <= std::min(f.records[k - 1] + 1, f.glyphs[k - 1]) && !greek_gap;
                EXPECT_EQ(drawn, has) << f.family << "/" << k << " glyph " << gnum;
                if (gnum > f.records[k - 1] + 1) {
                    EXPECT_NEAR(g.text.x - 1000.0f, d::glyph_width(1) + g.text.trail, 1e-3);
                }
            }
        }
    }
    // Alphabet 1 of the default font: codes 33..133; of the complex font 33..186.
    plotix::disalf();
    EXPECT_EQ(g.text.alf[0].fixed + g.text.alf[3].fixed, 2);
    EXPECT_EQ(g.text.alf[1].fixed + g.text.alf[2].fixed + g.text.alf[4].fixed, 0);
}

TEST_F(Text, AlphabetTableOfBothFonts) {
    auto cells = [] {
        std::vector<double> v;
        for (const auto& a : g.text.alf) v.insert(v.end(), {a.cellw, a.cellh, a.extra});
        return v;
    };
    EXPECT_EQ(cells(), (std::vector<double>{6, 7, 0, 6, 7, 0, 20, 21, 0.25f, 6, 7, 0, 20, 21, 0, 20,
                                            21, 0.25f}));
    EXPECT_EQ(g.text.space, 6.0f);
    // Alphabet 2 shares alphabet 1's coordinates, alphabet 4 its records too.
    EXPECT_EQ(g.text.alf[1].ixptr, g.text.alf[0].ixptr);
    EXPECT_EQ(g.text.alf[3].ikptr, g.text.alf[0].ikptr);
    EXPECT_NE(g.text.alf[1].ikptr, g.text.alf[0].ikptr);
    plotix::complx();
    EXPECT_EQ(cells(), (std::vector<double>{20, 21, 0.25f, 20, 21, 0.25f, 20, 21, 0.25f, 20, 21,
                                            0.25f, 20, 21, 0, 20, 21, 0.25f}));
    EXPECT_EQ(g.text.space, 9.0f);
    EXPECT_EQ(g.text.alf[0].direct, 1);
    EXPECT_EQ(g.text.alf[1].direct, 0);
    // The font stays until the next plot, which starts with the default font.
    plotix::disfin();
    EXPECT_EQ(g.text.family, d::kFamilyComplex);
    plotix::complx(); // level 0: warning, nothing changes
    EXPECT_NE(console_text().find("Warning   3: Incorrect level in complx!   (   0)"),
              std::string::npos);
    plotix::disini();
    EXPECT_EQ(g.text.family, d::kFamilyDefault);
    EXPECT_EQ(g.text.height, 36);
}

TEST_F(Text, UnpackedLayoutAndOffsets) {
    // One glyph of two strokes in separate x and y tables; the second stroke
    // reuses the first points shifted by (2, 1) half units.
    static const std::int16_t xs[] = {0, 10, 10};
    static const std::int16_t ys[] = {0, 0, 20};
    static const std::int16_t index[] = {6, 3, 1, -2, 1, 0x0102};
    d::lcinit(d::kFamilyComplex);
    d::lcsets(xs, ys, -3, index, 6, 2);
    g.text.x = 100.0f;
    g.text.y = 100.0f;
    plotix::height(21); // 1 plot unit per glyph unit in x (20/20) and y (20/21)
    d::qqglyph(1, 2);
    Strokes s = strokes();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NEAR(s[0][2].x, 110.0, 1e-4);
    EXPECT_NEAR(s[0][2].y, 100.0 - 20 * 20.0 / 21, 1e-4);
    EXPECT_NEAR(s[1][0].x, 101.0, 1e-4);
    EXPECT_NEAR(s[1][0].y, 100.0 - 0.5 * 20.0 / 21, 1e-4);
    EXPECT_NEAR(g.text.x, 100.0 + 11 + 0.25 * 21, 1e-4); // width 10 + 1 (offset) and spacing
}

TEST_F(Text, HeightAngleAndLevels) {
    plotix::height(0);
    plotix::height(10001);
    EXPECT_EQ(g.text.height, 36);
    plotix::height(10000);
    EXPECT_EQ(g.text.height, 10000);
    plotix::height(1);
    plotix::messag("Tiny but drawn", 10, 10); // every glyph collapses to its start point
    EXPECT_FALSE(strokes().empty());
    std::string text = console_text();
    EXPECT_NE(text.find(" <<<< Warning   2: Incorrect parameter in height!   (   0)\n"),
              std::string::npos);
    EXPECT_NE(text.find("in height!   (10001)\n"), std::string::npos);
    plotix::angle(30);
    EXPECT_FLOAT_EQ(g.text.sina, 0.5f);
    EXPECT_NEAR(g.text.cosa, std::sqrt(3.0) / 2, 1e-7);
    plotix::disfin();
    console_text();
    clear();
    plotix::messag("late", 10, 10);
    plotix::height(20);
    EXPECT_TRUE(events.empty());
    text = console_text();
    EXPECT_NE(text.find("Incorrect level in messag!"), std::string::npos);
    EXPECT_NE(text.find("Incorrect level in height!"), std::string::npos);
}

TEST_F(Text, StartAndEndPointWarnings) {
    plotix::messag("Left of the page", -1, 100);
    EXPECT_FALSE(strokes().empty()); // drawn anyway, clipped
    EXPECT_EQ(console_text(),
              " <<<< Warning: Startpoint (   -1/  100) in MESSAG out of page - (Left of ).\n");
    plotix::messag("AAAA", 2900, 100); // ends beyond the right edge
    EXPECT_EQ(console_text(),
              " <<<< Warning: Endpoint   ( 3040/  135) in MESSAG out of page - (AAAA).\n");
    plotix::messag("A", 2969 - 35, 2099 - 35); // ends exactly on the edge
    plotix::messag("", -50, -50);              // nothing drawn, nothing written
    EXPECT_EQ(console_text(), "");
    EXPECT_EQ(g.count.warnings, 2);
    // With warnings off both are counted; only the end warning is written.
    g.msg.warnings_on = 0;
    plotix::messag("AAAA", 2950, -10);
    EXPECT_EQ(console_text(),
              " <<<< Warning: Endpoint   ( 3090/   25) in MESSAG out of page - (AAAA).\n");
    EXPECT_EQ(g.count.warnings, 4);
    // With message unit 0 neither is written.
    g.msg.unit = 0;
    plotix::messag("AAAA", 2950, -10);
    EXPECT_EQ(console_text(), "");
    EXPECT_EQ(g.count.warnings, 6);
}

TEST_F(Text, DtextAndTheContinuation) {
    plotix::complx();
    plotix::messag("A", 0, 0);
    clear();
    d::dtext("A", 999, 999, 0, 50);
    Strokes s = strokes();
    ASSERT_FALSE(s.empty());
    EXPECT_NEAR(s[0][0].x, 1000.0, 1e-3); // not at the text position
    EXPECT_NEAR(s[0][0].y, 999.0 + 49, 1e-3);
    EXPECT_EQ(g.text.height, 36);
    EXPECT_EQ(g.text.angle, 0);
    d::dtext("A", 500, 500, 90, 36);
    EXPECT_EQ(g.text.angle, 0);
    EXPECT_FLOAT_EQ(g.text.cosa, 1.0f);
    // dnumqq draws the text of fcha.
    clear();
    d::dnumqq(3.14159f, 2, 0, 0);
    EXPECT_EQ(g.text.buffer, "3.14");
}

TEST_F(Text, LongStringsAreCutTo256Characters) {
    const std::string i256(256, 'I'), i300(300, 'I');
    EXPECT_EQ(plotix::nlmess(i300), plotix::nlmess(i256));
    plotix::height(5);
    plotix::messag(i256, 0, 100);
    const std::size_t n256 = strokes().size();
    clear();
    plotix::messag(i300, 0, 100);
    EXPECT_EQ(strokes().size(), n256);
    EXPECT_EQ(g.text.buffer.size(), 256u);
    // Every byte value, in one string.
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    plotix::messag(all, 0, 200);
    plotix::complx();
    plotix::messag(all, 0, 300);
    EXPECT_GT(plotix::nlmess(all), 0);
}

TEST_F(Text, ExponentMode) {
    plotix::complx();
    g.text.expmode = 1;
    const double w1 = complex_width('1'), w0 = complex_width('0'), w5 = complex_width('5');
    // The strokes of "5" follow those of "1" and "0".
    plotix::messag("10", 0, 100);
    const std::size_t n10 = strokes().size();
    clear();
    plotix::messag("10[5$", 0, 100);
    Strokes s = strokes();
    Box five;
    for (std::size_t i = n10; i < s.size(); ++i)
        for (const Pt& p : s[i]) five.add(p);
    const double x5 = 2 * 9 + (w1 + w0) * 1.75;
    EXPECT_GE(five.x0, x5 - 1e-3);
    const auto [lo5, hi5] = complex_ybounds('5');
    EXPECT_NEAR(five.y1, 135.0 - 21.6 - lo5 * 28 / 21.0, 1e-3); // raised baseline
    EXPECT_NEAR(five.y0, 135.0 - 21.6 - hi5 * 28 / 21.0, 1e-3); // at height 29
    EXPECT_EQ(g.text.height, 36);
    EXPECT_NEAR(g.text.y, 135.0, 1e-3); // back on the baseline
    EXPECT_NEAR(g.text.x, x5 + w5 * 28 / 20.0 + 0.25 * 29, 1e-3);
    EXPECT_EQ(plotix::nlmess("10[5$"), std::lround(x5 + w5 * 28 / 20.0));

    // A lower character after a raise does not return to the baseline.
    clear();
    plotix::messag("10[5]", 0, 100);
    const std::size_t n105 = strokes().size();
    clear();
    plotix::messag("10[5]6", 0, 100);
    s = strokes();
    Box six;
    for (std::size_t i = n105; i < s.size(); ++i)
        for (const Pt& p : s[i]) six.add(p);
    EXPECT_NEAR(g.text.y, 135.0, 1e-3); // the offset is undone at the end
    EXPECT_EQ(g.text.height, 36);
    const auto [lo6, hi6] = complex_ybounds('6'); // the 6 stands 7.8 up at height 23
    EXPECT_NEAR(six.y1, 135.0 - 7.8 - lo6 * 22 / 21.0, 1e-3);
    EXPECT_NEAR(six.y0, 135.0 - 7.8 - hi6 * 22 / 21.0, 1e-3);
    // Off, the control characters are drawn.
    g.text.expmode = 0;
    EXPECT_GT(plotix::nlmess("10[5$"), std::lround(x5 + w5 * 28 / 20.0));
}

TEST_F(Text, CharacterShift) {
    std::string s = "!a!!";
    d::strsft(s); // off by default
    EXPECT_EQ(s, "!a!!");
    g.text.shift_on = 1;
    g.text.shift[0] = '!';
    s = "M!arz !! und !U!s";
    d::strsft(s);
    EXPECT_EQ(s, "M\x82rz ! und \x81\x85");
    plotix::messag("x!q", 10, 100); // warning 18 names the first character; the pair stays
    EXPECT_EQ(g.text.buffer, "x!q");
    EXPECT_NE(console_text().find("Warning  18: Incorrect character after the eushft operator "
                                  "in messag!   (x)"),
              std::string::npos);
    s = "ends with !";
    d::strsft(s);
    EXPECT_EQ(s, "ends with !");
    // Several groups on one character: the highest wins.
    g.text.shift[4] = '!';
    s = "!e!a";
    d::strsft(s);
    EXPECT_EQ(s, "\x9a\x99");
}

TEST_F(Text, NumbersToText) {
    std::string t;
    EXPECT_EQ(plotix::intcha(0, t), 1);
    EXPECT_EQ(t, "0");
    EXPECT_EQ(plotix::intcha(-2147483647 - 1, t), 11);
    EXPECT_EQ(t, "-2147483648");
    EXPECT_EQ(plotix::fcha(3.14159f, 2, t), 4);
    EXPECT_EQ(t, "3.14");
    EXPECT_EQ(plotix::fcha(-0.5f, 1, t), 4);
    EXPECT_EQ(t, "-0.5");
    EXPECT_EQ(plotix::fcha(2.5f, -1, t), 1);
    EXPECT_EQ(t, "3");
    EXPECT_EQ(plotix::fcha(-2.5f, -1, t), 2);
    EXPECT_EQ(t, "-3");
    EXPECT_EQ(plotix::fcha(2.0f, 0, t), 2);
    EXPECT_EQ(t, " 2");
    EXPECT_EQ(plotix::fcha(9.96f, 1, t), 4); // rounds up into a new digit
    EXPECT_EQ(t, "10.0");
    EXPECT_EQ(d::flen(9.96f, 1), 4);
    EXPECT_EQ(d::flen(-1234.5f, 2), 8);
    EXPECT_EQ(plotix::fcha(-0.3f, -1, t), 1);
    EXPECT_EQ(t, "0");
    EXPECT_EQ(plotix::fcha(1234.0f, -7, t), 4); // below -1 counts as -1
    EXPECT_EQ(t, "1234");
    EXPECT_EQ(plotix::fcha(3.0e38f, -1, t), 39);
    EXPECT_EQ(plotix::fcha(1.0f, 1000, t), 102); // at most 100 decimals
    EXPECT_EQ(plotix::fcha(std::nanf(""), 2, t), 3);
    EXPECT_EQ(t, "nan");
    EXPECT_EQ(plotix::fcha(-INFINITY, 2, t), 4);
    EXPECT_EQ(t, "-inf");
}

TEST(TextHelpers, TrimBlanksAndUpperCase) {
    EXPECT_EQ(d::trmlen("AB  "), 2);
    EXPECT_EQ(d::trmlen("   "), 0);
    EXPECT_EQ(d::trmlen(" A B"), 4);
    std::string s = " a b c d";
    EXPECT_EQ(d::dsblnk(s, 4), 2); // " a b" -> "ab"
    EXPECT_EQ(s, "ab c d");
    s = "x y";
    EXPECT_EQ(d::dsblnk(s, 99), 2);
    EXPECT_EQ(s, "xy");
    EXPECT_EQ(d::dsblnk(s, -3), 0);
    EXPECT_EQ(s, "xy");
    s = "mixed Case \xe4z";
    d::upstr(s);
    EXPECT_EQ(s, "MIXED CASE \xe4Z");
}

TEST_F(PlotixTest, WidthBeforeTheFirstPlotUsesTheDefaultFont) {
    EXPECT_EQ(plotix::nlmess("AB"), 70); // two fixed-width cells of h - 1
    EXPECT_EQ(console_text(), "");
}
