// Colour tables, named colours and the current colour.
#ifndef PLOTIX_CORE_COLOUR_H
#define PLOTIX_CORE_COLOUR_H

#include <cstdint>
#include <string_view>

namespace plotix::detail {

// The stored tables of the types "RAIN" and "SPEC".
extern const std::uint32_t kRainbow[256];
extern const std::uint32_t kSpectrum[256];

// Red, green and blue of table entry (index mod 256).
struct Rgb {
    int r = 0, g = 0, b = 0;
};
Rgb colour_entry(int index);

// Builds the table of type 0..8 and makes the foreground colour current
// (setvlt without the level check and keyword lookup).
void qqvlt(int type);
// Makes index current after stroking pending lines (setclr without the level
// check); returns false (after warning 2) for an index outside 0..255.
bool qqclr(int index);
// Hands the whole table to the screen or raster driver.
void shwvlt();

} // namespace plotix::detail

#endif
