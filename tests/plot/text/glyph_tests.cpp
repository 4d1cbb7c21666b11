#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "glyph_data.h"
#include "glyphs.h"

using namespace plotix::detail;

namespace {

struct Pt {
    double x, y;
    bool operator==(const Pt& o) const { return x == o.x && y == o.y; }
};
using Stroke = std::vector<Pt>;

std::vector<Stroke> strokes_of(const AlphabetData& a, int g) {
    std::vector<Stroke> out;
    glyph_strokes(a, g, [&out](double x, double y, bool first) {
        if (first) out.emplace_back();
        out.back().push_back({x, y});
    });
    return out;
}

std::int16_t packed(int x, int y) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(((y & 0xFF) << 8) | (x & 0xFF)));
}

struct Named {
    const char* name;
    int family;
    int alphabet;
};

const Named kAll[] = {{"complex 1", 3, 1}, {"complex 2", 3, 2}, {"complex 3", 3, 3},
                      {"complex 4", 3, 4}, {"complex 5", 3, 5}, {"complex 6", 3, 6},
                      {"default 1", 1, 1}, {"default 2", 1, 2}};

} // namespace

TEST(GlyphDecode, UnpacksSignedBytes) {
    EXPECT_EQ(gbyt01(packed(2, 1)).x, 2);
    EXPECT_EQ(gbyt01(packed(2, 1)).y, 1);
    EXPECT_EQ(gbyt01(24).x, 24);
    EXPECT_EQ(gbyt01(24).y, 0);
    EXPECT_EQ(gbyt01(-1).x, -1);
    EXPECT_EQ(gbyt01(-1).y, -1);
    GlyphPoint p = gbyt01(packed(-128, 127));
    EXPECT_EQ(p.x, -128);
    EXPECT_EQ(p.y, 127);
    p = gbyt01(packed(-7, -12));
    EXPECT_EQ(p.x, -7);
    EXPECT_EQ(p.y, -12);
}

TEST(GlyphDecode, AlphabetLookup) {
    for (const Named& n : kAll) ASSERT_NE(alphabet_data(n.family, n.alphabet), nullptr) << n.name;
    EXPECT_EQ(alphabet_data(1, 3), nullptr);
    EXPECT_EQ(alphabet_data(3, 0), nullptr);
    EXPECT_EQ(alphabet_data(3, 7), nullptr);
    EXPECT_EQ(alphabet_data(2, 1), nullptr);
    // The default font's alphabet 2 shares alphabet 1's coordinates.
    EXPECT_EQ(alphabet_data(1, 2)->coords, alphabet_data(1, 1)->coords);
    EXPECT_TRUE(alphabet_data(1, 1)->fixed);
    EXPECT_FALSE(alphabet_data(1, 2)->fixed);
    EXPECT_FALSE(alphabet_data(3, 1)->fixed);
}

TEST(GlyphDecode, OffsetStrokeAndDamagedTables) {
    // One glyph: a stroke of 2 points shifted by (3, -2) half units, then a
    // plain stroke of 1 point.
    const std::int16_t coords[] = {packed(0, 0), packed(4, 2)};
    const std::int16_t index[] = {6, -2, 1, packed(3, -2), 1, 2};
    AlphabetData a{coords, 2, index, 6, 1, 10, false};
    auto s = strokes_of(a, 2);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], (Stroke{{1.5, -1.0}, {5.5, 1.0}}));
    EXPECT_EQ(s[1], (Stroke{{4, 2}}));
    EXPECT_DOUBLE_EQ(gmxcln(a, 2), 5.5);
    // blank, beyond the records and beyond the glyph count
    EXPECT_EQ(glyph_record(a, 1), -1);
    EXPECT_EQ(glyph_record(a, 3), -1);
    a.glyphs = 1;
    EXPECT_EQ(glyph_record(a, 2), -1);
    EXPECT_DOUBLE_EQ(gmxcln(a, 2), 0.0);

    // A stroke reaching past the coordinate table is not read.
    const std::int16_t bad[] = {3, 2, 2};
    AlphabetData b{coords, 2, bad, 3, 1, 10, false};
    StrokeEntry e{};
    EXPECT_FALSE(gconpa(b, 1, e));
    EXPECT_TRUE(strokes_of(b, 2).empty());
    // A record longer than the table, and a zero length, are rejected.
    const std::int16_t longrec[] = {9, 1, 1};
    AlphabetData c{coords, 2, longrec, 3, 1, 10, false};
    EXPECT_EQ(glyph_record(c, 2), -1);
    const std::int16_t zero[] = {0, 3, 1, 1};
    AlphabetData d{coords, 2, zero, 4, 2, 10, false};
    EXPECT_EQ(glyph_record(d, 3), -1);
    // A truncated 3-word entry
    const std::int16_t cut[] = {-1, 1};
    AlphabetData f{coords, 2, cut, 2, 1, 10, false};
    EXPECT_FALSE(gconpa(f, 0, e));
}

// Record lengths, stroke entries and padding of every generated table.
TEST(GlyphTables, FormatInvariants) {
    for (const Named& n : kAll) {
        SCOPED_TRACE(n.name);
        const AlphabetData& a = *alphabet_data(n.family, n.alphabet);
        ASSERT_LE(a.records + 1, a.glyphs);
        std::size_t pos = 0;
        for (int r = 0; r < a.records; ++r) {
            ASSERT_LT(pos, a.nindex);
            int len = a.index[pos];
            ASSERT_GE(len, 1);
            ASSERT_LE(pos + static_cast<std::size_t>(len), a.nindex);
            EXPECT_EQ(glyph_record(a, r + 2), static_cast<long>(pos));
            std::size_t k = pos + 1, end = pos + static_cast<std::size_t>(len);
            while (k < end) {
                StrokeEntry e{};
                ASSERT_TRUE(gconpa(a, k, e)) << "record " << r;
                ASSERT_LE(k + static_cast<std::size_t>(e.words), end) << "record " << r;
                if (n.family == kFamilyDefault) {
                    EXPECT_EQ(e.words, 3) << "record " << r;
                }
                k += static_cast<std::size_t>(e.words);
            }
            pos = end;
        }
        // Words after the last record are unused padding.
        for (std::size_t k = pos; k < a.nindex; ++k) EXPECT_EQ(a.index[k], 0) << k;
        EXPECT_EQ(glyph_record(a, a.records + 2), -1);
    }
}

TEST(GlyphTables, CoordinateRangesAndLeftEdge) {
    for (const Named& n : kAll) {
        SCOPED_TRACE(n.name);
        const AlphabetData& a = *alphabet_data(n.family, n.alphabet);
        bool def = n.family == kFamilyDefault;
        int nonempty = 0;
        for (int g = 2; g <= a.records + 1; ++g) {
            auto s = strokes_of(a, g);
            if (s.empty()) continue;
            ++nonempty;
            double minx = 1e9;
            for (const Stroke& st : s)
                for (const Pt& p : st) {
                    minx = std::min(minx, p.x);
                    // the italic m is 31 units wide
                    bool inside = def ? p.x >= 0 && p.x <= 5 && p.y >= -3 && p.y <= 7
                                      : p.x >= -7 && p.x <= 31 && p.y >= -12 && p.y <= 28;
                    EXPECT_TRUE(inside) << "glyph " << g << " (" << p.x << ", " << p.y << ")";
                }
            // Proportional alphabets have no left bearing; the fixed-width one
            // centres its glyphs in the cell.
            if (!a.fixed) {
                EXPECT_EQ(minx, 0.0) << "glyph " << g;
            }
        }
        // Only the four unused Greek letter slots may be empty.
        EXPECT_GE(nonempty, a.records - 4);
    }
}

TEST(GlyphTables, StatedSizes) {
    struct Row {
        int family, alphabet, records, glyphs;
    };
    const Row rows[] = {{3, 1, 154, 155}, {3, 2, 52, 95}, {3, 3, 52, 95},   {3, 4, 29, 102},
                        {3, 5, 59, 102},  {3, 6, 66, 95}, {1, 1, 101, 132}, {1, 2, 52, 95}};
    for (const Row& r : rows) {
        const AlphabetData& a = *alphabet_data(r.family, r.alphabet);
        EXPECT_EQ(a.records, r.records) << r.family << "/" << r.alphabet;
        EXPECT_EQ(a.glyphs, r.glyphs) << r.family << "/" << r.alphabet;
    }
    // Sizes the glyphs fit into exactly
    EXPECT_EQ(kComplexRomanCoordsSize, 1458u);
    EXPECT_EQ(kComplexMathIndexSize, 341u);
    EXPECT_EQ(kComplexItalicIndexSize, 277u);
    EXPECT_EQ(kDefaultLatinIndexSize, 665u);
    EXPECT_EQ(kDefaultGreekIndexSize, 390u);
}

TEST(GlyphTables, ComplexCapitalA) {
    const AlphabetData& a = *alphabet_data(3, 1);
    const int first[9][2] = {{0, 0},  {6, 0},  {2, 0}, {9, 21}, {16, 0},
                             {15, 0}, {9, 18}, {4, 6}, {13, 6}};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(gbyt01(a.coords[i]).x, first[i][0]) << i;
        EXPECT_EQ(gbyt01(a.coords[i]).y, first[i][1]) << i;
    }
    int g = 'A' - 31;
    long pos = glyph_record(a, g);
    ASSERT_GE(pos, 0);
    const std::vector<int> expect = {12, 2, 1, 3, 3, -2, 1, 24, 2, 6, 2, 8};
    std::vector<int> got(a.index + pos, a.index + pos + 12);
    EXPECT_EQ(got, expect);
    EXPECT_DOUBLE_EQ(gmxcln(a, g), 18.0);
    auto s = strokes_of(a, g);
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[2], (Stroke{{12, 0}, {18, 0}}));
}

TEST(GlyphTables, ComplexPeriod) {
    const AlphabetData& a = *alphabet_data(3, 1);
    long pos = glyph_record(a, 15);
    ASSERT_GE(pos, 0);
    EXPECT_EQ(a.index[pos], 3);
    EXPECT_EQ(a.index[pos + 1], 5);
    EXPECT_EQ(a.index[pos + 2], 361);
    EXPECT_EQ(strokes_of(a, 15), (std::vector<Stroke>{{{1, 0}, {2, 1}, {1, 2}, {0, 1}, {1, 0}}}));
    EXPECT_DOUBLE_EQ(gmxcln(a, 15), 2.0);
}

namespace {

// Glyph composed of the strokes of glyph base plus accent strokes lying wholly
// above height: returns the number of accent strokes (-1 if a base stroke is
// missing or another stroke is not above height).
int accent_strokes(const AlphabetData& a, int composed, int base, double height) {
    auto c = strokes_of(a, composed);
    auto b = strokes_of(a, base);
    for (const Stroke& s : b)
        if (std::find(c.begin(), c.end(), s) == c.end()) return -1;
    int extra = 0;
    for (const Stroke& s : c) {
        if (std::find(b.begin(), b.end(), s) != b.end()) continue;
        for (const Pt& p : s)
            if (p.y <= height) return -1;
        ++extra;
    }
    return extra;
}

} // namespace

TEST(GlyphTables, AccentedLettersReuseTheirBase) {
    const AlphabetData& rom = *alphabet_data(3, 1);
    auto g = [](int code) { return code - 31; };
    const double xheight = 14, cap = 21;
    EXPECT_EQ(accent_strokes(rom, g(127), g('A'), cap), 2);     // A umlaut: two dots
    EXPECT_EQ(accent_strokes(rom, g(131), g('o'), xheight), 2); // o umlaut
    EXPECT_EQ(accent_strokes(rom, g(154), g('e'), xheight), 1); // e acute
    EXPECT_EQ(accent_strokes(rom, g(141), g('n'), xheight), 1); // n tilde
    EXPECT_EQ(accent_strokes(rom, g(171), g('O'), cap), 1);     // O circumflex
    EXPECT_EQ(accent_strokes(rom, g(134), g('A'), cap), 1);     // A ring
    EXPECT_EQ(accent_strokes(rom, g(184), g('y'), xheight), 2); // y umlaut
    // The dots are the period moved by offset words.
    auto dots = strokes_of(rom, g(130));
    auto period = strokes_of(rom, g('.'))[0];
    int found = 0;
    for (const Stroke& s : dots) {
        if (s.size() != period.size()) continue;
        bool same = true;
        for (std::size_t i = 1; i < s.size(); ++i)
            same = same && s[i].x - s[0].x == period[i].x - period[0].x &&
                   s[i].y - s[0].y == period[i].y - period[0].y;
        found += same && s[0].y > xheight;
    }
    EXPECT_EQ(found, 2);
    // Italic and script umlauts
    const AlphabetData& ita = *alphabet_data(3, 4);
    EXPECT_EQ(accent_strokes(ita, 28, 2, xheight), 2);  // a umlaut over a
    EXPECT_EQ(accent_strokes(ita, 30, 22, xheight), 2); // u umlaut over u
    const AlphabetData& scr = *alphabet_data(3, 5);
    EXPECT_EQ(accent_strokes(scr, 55, 16, cap), 2); // O umlaut over O
    // Default font: umlaut dots above the small letters
    const AlphabetData& def = *alphabet_data(1, 1);
    auto ae = strokes_of(def, g(130));
    int above = 0;
    for (const Stroke& s : ae)
        above += std::all_of(s.begin(), s.end(), [](const Pt& p) { return p.y > 4.5; });
    EXPECT_EQ(above, 2);
}

TEST(GlyphTables, Widths) {
    const AlphabetData& def = *alphabet_data(1, 1);
    EXPECT_DOUBLE_EQ(gmxcln(def, 'W' - 31), 6.0);
    EXPECT_DOUBLE_EQ(gmxcln(def, 'i' - 31), 6.0);
    // glyph numbers of the default font beyond its records draw the blank
    EXPECT_EQ(glyph_record(def, 103), -1);
    EXPECT_EQ(glyph_record(def, 132), -1);
    const AlphabetData& rom = *alphabet_data(3, 1);
    EXPECT_GT(gmxcln(rom, 'W' - 31), gmxcln(rom, 'i' - 31));
    EXPECT_EQ(glyph_record(rom, 156), -1);
    EXPECT_DOUBLE_EQ(gmxcln(rom, 156), 0.0);
}
