// Integers read from text (the reals are the engine's parse_real).
#include "numbers.hpp"

#include <charconv>
#include <system_error>

namespace fasogram {

std::optional<int> parse_int(std::string_view text) {
    std::size_t start = 0;
    if (!text.empty() && text[0] == '+') start = 1;
    if (start >= text.size()) return std::nullopt;
    // from_chars accepts a leading '-' only, which is what we want after
    // having skipped an optional '+'.
    if (start == 1 && text[1] == '-') return std::nullopt;
    int value = 0;
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc() || end != last) return std::nullopt;
    return value;
}

} // namespace fasogram
