// Number and text formatting independent of the process locale.
#ifndef PLOTIX_CORE_FORMAT_H
#define PLOTIX_CORE_FORMAT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace plotix::detail {

// "%<width>d": right-aligned decimal integer.
std::string fmt_int(std::int64_t v, int width = 0);
// "%<width>.<prec>f": right-aligned fixed-point number, '.' as decimal point.
std::string fmt_fixed(double v, int width, int prec);
// "%<width>.<prec>e": right-aligned exponent form such as 2.0000e+06.
std::string fmt_exp(double v, int width, int prec);
// "%<width>s" and "%-<width>s".
std::string pad_left(std::string_view s, int width);
std::string pad_right(std::string_view s, int width);

// Text as the library prints it: control characters (codes below 32, and
// 127) as \xNN, so that a message stays on its line and sends no control
// codes to a terminal.
std::string printable(std::string_view text);

// Adds 0.5 and truncates toward zero, clamped to +-2^30 (non-finite values
// become 0); the device-unit rounding of the drivers.
int rnd(double v);

} // namespace plotix::detail

#endif
