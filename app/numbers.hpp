// Numbers read from text in any locale.
#pragma once

#include <optional>
#include <string_view>

namespace fasogram {

// Reads a real number written in any decimal or exponent notation: an
// optional sign, digits with an optional decimal point, and an optional
// exponent introduced by E, e, D or d (the Fortran double-precision letter).
// The whole text must be the number.  Returns nothing for anything else,
// including values that overflow a double; a value too small for a double
// reads as the nearest one (a signed zero or a subnormal).  Independent of
// the C locale.
std::optional<double> parse_real(std::string_view text);

// Reads an integer: an optional sign and decimal digits only (a decimal
// point or an exponent makes it invalid).  Returns nothing when the text is
// not such an integer or does not fit in an int.
std::optional<int> parse_int(std::string_view text);

} // namespace fasogram
