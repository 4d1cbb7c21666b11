// The alphabets of the default and complex fonts and the decoding of their
// packed glyph records.
#include "glyphs.h"

#include <algorithm>

#include "glyph_data.h"

namespace plotix::detail {

namespace {

constexpr AlphabetData kComplex[6] = {
    {kComplexRomanCoords, kComplexRomanCoordsSize, kComplexRomanIndex, kComplexRomanIndexSize,
     kComplexRomanRecords, kComplexRomanGlyphs, false},
    {kComplexGreekCoords, kComplexGreekCoordsSize, kComplexGreekIndex, kComplexGreekIndexSize,
     kComplexGreekRecords, kComplexGreekGlyphs, false},
    {kComplexMathCoords, kComplexMathCoordsSize, kComplexMathIndex, kComplexMathIndexSize,
     kComplexMathRecords, kComplexMathGlyphs, false},
    {kComplexItalicCoords, kComplexItalicCoordsSize, kComplexItalicIndex, kComplexItalicIndexSize,
     kComplexItalicRecords, kComplexItalicGlyphs, false},
    {kComplexScriptCoords, kComplexScriptCoordsSize, kComplexScriptIndex, kComplexScriptIndexSize,
     kComplexScriptRecords, kComplexScriptGlyphs, false},
    {kComplexCyrillicCoords, kComplexCyrillicCoordsSize, kComplexCyrillicIndex,
     kComplexCyrillicIndexSize, kComplexCyrillicRecords, kComplexCyrillicGlyphs, false},
};

// The default font's own alphabets; alphabet 2 uses alphabet 1's coordinates.
constexpr AlphabetData kDefault[2] = {
    {kDefaultLatinCoords, kDefaultLatinCoordsSize, kDefaultLatinIndex, kDefaultLatinIndexSize,
     kDefaultLatinRecords, kDefaultLatinGlyphs, true},
    {kDefaultLatinCoords, kDefaultLatinCoordsSize, kDefaultGreekIndex, kDefaultGreekIndexSize,
     kDefaultGreekRecords, kDefaultGreekGlyphs, false},
};

} // namespace

const AlphabetData* alphabet_data(int family, int alphabet) {
    if (family == kFamilyComplex && alphabet >= 1 && alphabet <= 6) return &kComplex[alphabet - 1];
    if (family == kFamilyDefault && alphabet >= 1 && alphabet <= 2) return &kDefault[alphabet - 1];
    return nullptr;
}

GlyphPoint gbyt01(std::int16_t word) {
    auto w = static_cast<std::uint16_t>(word);
    auto x = static_cast<std::int8_t>(w & 0xFF);
    auto y = static_cast<std::int8_t>(w >> 8);
    return {x, y};
}

bool gconpa(const AlphabetData& a, std::size_t pos, StrokeEntry& entry) {
    if (pos + 1 >= a.nindex) return false;
    int n = a.index[pos];
    entry.start = a.index[pos + 1];
    entry.dx = entry.dy = 0;
    entry.words = 2;
    if (n < 0) {
        if (pos + 2 >= a.nindex) return false;
        GlyphPoint off = gbyt01(a.index[pos + 2]);
        entry.dx = off.x;
        entry.dy = off.y;
        entry.words = 3;
        n = -n;
    }
    entry.npoints = n;
    return n >= 1 && entry.start >= 1 &&
           static_cast<std::size_t>(entry.start - 1) + static_cast<std::size_t>(n) <= a.ncoords;
}

long glyph_record(const AlphabetData& a, int g) {
    if (g < 2 || g > a.glyphs || g > a.records + 1) return -1;
    std::size_t pos = 0;
    for (int i = 0; i < g - 2; ++i) {
        if (pos >= a.nindex || a.index[pos] < 1) return -1;
        pos += static_cast<std::size_t>(a.index[pos]);
    }
    if (pos >= a.nindex || a.index[pos] < 1 ||
        pos + static_cast<std::size_t>(a.index[pos]) > a.nindex)
        return -1;
    return static_cast<long>(pos);
}

double gmxcln(const AlphabetData& a, int g) {
    if (a.fixed) return 6.0;
    double w = 0.0;
    glyph_strokes(a, g, [&w](double x, double, bool) { w = std::max(w, x); });
    return w;
}

} // namespace plotix::detail
