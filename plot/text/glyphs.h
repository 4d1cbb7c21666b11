// Decoding of the packed glyph tables of the stroked fonts.
//
// Each alphabet owns a coordinate table (one packed point per 16-bit word:
// low byte x, high byte y, both signed) and an index table of glyph records
// for glyph numbers 2, 3, ... A record is its length L in words (counting
// itself) followed by stroke entries (n, s) or (-n, s, offset): n points from
// the 1-based coordinate index s, shifted by half the offset word's bytes.
// These helpers do not touch the plotting state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plotix::detail {

// Font family codes.
inline constexpr int kFamilyDefault = 1;
inline constexpr int kFamilyComplex = 3;

// Static data of one alphabet.
struct AlphabetData {
    const std::int16_t* coords; // packed points
    std::size_t ncoords;
    const std::int16_t* index; // glyph records
    std::size_t nindex;
    int records; // glyph records present (glyph numbers 2 .. records + 1)
    int glyphs;  // glyph numbers accepted (larger ones draw the blank)
    bool fixed;  // fixed-width alphabet: every glyph is 6 units wide
};

// The alphabet's data for family 1 (alphabets 1 and 2 only: the others are
// registered from the complex font's tables or alphabet 1's) or family 3
// (alphabets 1-6); nullptr for any other pair.
const AlphabetData* alphabet_data(int family, int alphabet);

// One unpacked point.
struct GlyphPoint {
    int x;
    int y;
};

// Unpacks a packed word: low byte -> x, high byte -> y, each sign-extended.
GlyphPoint gbyt01(std::int16_t word);

// One stroke entry of a glyph record.
struct StrokeEntry {
    int npoints; // points in the stroke
    int start;   // 1-based index of the first point in the coordinate table
    int dx;      // offset in half units
    int dy;
    int words; // words used by the entry (2 or 3)
};

// Reads the stroke entry at word pos of the index table; returns false if
// the entry does not fit into the table or its points lie outside the
// coordinate table (a damaged table draws nothing rather than reading out of
// bounds).
bool gconpa(const AlphabetData& a, std::size_t pos, StrokeEntry& entry);

// Word position of the record of glyph number g (g >= 2) found by walking the
// records from word 0, or -1 when g is the blank, above the alphabet's glyph
// count, beyond its records or the table is damaged.
long glyph_record(const AlphabetData& a, int g);

// Width of glyph number g in glyph units: 6 for fixed-width alphabets,
// otherwise the largest x + dx * 0.5 over all points of all strokes, starting
// from 0. The blank and glyphs without record have width 0 here (the caller
// uses the family's space width for the blank).
double gmxcln(const AlphabetData& a, int g);

// Calls visit(x, y, first) for every point of every stroke of glyph g in
// record order, in glyph units with the stroke offset applied; first is true
// for the first point of each stroke. Returns the number of strokes.
template <class Visit> int glyph_strokes(const AlphabetData& a, int g, Visit&& visit) {
    long pos = glyph_record(a, g);
    if (pos < 0) return 0;
    std::size_t end = static_cast<std::size_t>(pos) + static_cast<std::size_t>(a.index[pos]);
    std::size_t k = static_cast<std::size_t>(pos) + 1;
    int count = 0;
    StrokeEntry e{};
    while (k < end && gconpa(a, k, e) && k + static_cast<std::size_t>(e.words) <= end) {
        for (int i = 0; i < e.npoints; ++i) {
            GlyphPoint p = gbyt01(a.coords[e.start - 1 + i]);
            visit(p.x + e.dx * 0.5, p.y + e.dy * 0.5, i == 0);
        }
        k += static_cast<std::size_t>(e.words);
        ++count;
    }
    return count;
}

} // namespace plotix::detail
