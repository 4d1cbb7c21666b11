// Numbers read from text in any locale.
#pragma once

#include <fasogram/series.hpp>

#include <optional>
#include <string_view>

namespace fasogram {

// Reals: parse_real, from the engine's series reader.

// Reads an integer: an optional sign and decimal digits only (a decimal
// point or an exponent makes it invalid).  Returns nothing when the text is
// not such an integer or does not fit in an int.
std::optional<int> parse_int(std::string_view text);

} // namespace fasogram
