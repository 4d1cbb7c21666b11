// The stored colour tables and the colours of the current table.
#ifndef PLOTIX_CORE_COLOUR_H
#define PLOTIX_CORE_COLOUR_H

#include <cstdint>

namespace plotix::detail {

// The stored tables of the types "RAIN" and "SPEC".
extern const std::uint32_t kRainbow[256];
extern const std::uint32_t kSpectrum[256];

// Red, green and blue, 0..255 each.
struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
// Red, green and blue of entry (index mod 256) of the current table.
Rgb colour_entry(int index);

} // namespace plotix::detail

#endif
