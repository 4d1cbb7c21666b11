// Stroked fonts and string drawing: the alphabet table, the glyph steps and
// the layout of strings at the current text height and angle.
#ifndef PLOTIX_TEXT_TEXT_H
#define PLOTIX_TEXT_TEXT_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace plotix::detail {

inline constexpr int kTextBuffer = 256; // characters of the string buffer
inline constexpr int kHeightMax = 10000;

// ---- alphabet table ----------------------------------------------------------
// Empties the alphabet table and sets cells, spacing and the space width of
// font family 1 (default) or 3 (complex).
void lcinit(int family);
// Appends one alphabet. A coordinate count of 0 takes alphabet 1's
// coordinates, a negative one stores separate x and y tables of -count
// words; an index count of 0 takes alphabet 1's glyph records.
void lcsets(const std::int16_t* coords, const std::int16_t* ycoords, long ncoords,
            const std::int16_t* index, long nindex, int glyphs);
// The loaders of the single alphabets.
void lcomro();
void lcomgr();
void lcmath();
void lcomit();
void lcomsc();
void lcomcy();
void lcital();
// The two fonts without the level check (the defaults load the first).
void load_default_font();
void load_complex_font();

// Loads the scales of an alphabet for the current height (no effect when it
// is loaded already).
void salfpa(int alphabet);
// Width of glyph number g of the loaded alphabet in plot units; the blank
// and glyphs without a record have the space width.
double glyph_width(int g);
// Draws glyph number g of an alphabet at the text position and advances the
// position (nothing is drawn while measuring). Test and chart support.
void qqglyph(int alphabet, int g);

// ---- strings -----------------------------------------------------------------
void set_height(int n);  // stores the height and clears the loaded alphabet
void set_angle(int deg); // stores the angle with its sine and cosine
void alfcha(int code);   // one character of alphabet 1 at the text position
void qqmess(std::string_view s, int x, int y);
void dtext(std::string_view s, int x, int y, int angle, int height);
void dnumqq(float value, int ndig, int x, int y);
int flen(float value, int ndig);
// Test and tooling hook: when set, every string drawn (axis labels and
// names, titles, messages, headers) is handed to it as it is drawn, with its
// start in plot units.  The strokes drawn are the same with or without it.
using TextObserver = std::function<void(std::string_view text, int x, int y)>;
void set_text_observer(TextObserver observer);
// Character-shift processing of the accented letters (only while switched on).
void strsft(std::string& s);

} // namespace plotix::detail

#endif
