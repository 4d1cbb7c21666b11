#include "numbers.hpp"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace fasogram {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// For a number out of the range of a double, written as from_chars takes it
// ([-]digits[.digits][e[+-]digits]): true when it is too small rather than
// too large, i.e. its first non-zero digit stands after the units place.
bool underflows(std::string_view plain) {
    std::size_t i = plain.starts_with('-') ? 1 : 0;
    long long place = 0;          // decimal place of the first non-zero digit: 0 units, -1 tenths
    long long integer_digits = 0; // without leading zeros
    for (; i < plain.size() && is_digit(plain[i]); ++i) {
        if (integer_digits > 0 || plain[i] != '0') ++integer_digits;
    }
    bool found = integer_digits > 0;
    if (found) place = integer_digits - 1;
    if (i < plain.size() && plain[i] == '.') {
        for (++i; i < plain.size() && is_digit(plain[i]); ++i) {
            if (found) continue;
            --place;
            found = plain[i] != '0';
        }
    }
    long long exponent = 0;
    if (i < plain.size() && plain[i] == 'e') {
        ++i;
        const bool negative = i < plain.size() && plain[i] == '-';
        if (i < plain.size() && (plain[i] == '-' || plain[i] == '+')) ++i;
        for (; i < plain.size() && exponent < 1000000000; ++i) {
            exponent = exponent * 10 + (plain[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    return found && place + exponent < 0;
}

} // namespace

std::optional<double> parse_real(std::string_view text) {
    // Validate the shape by hand and build a plain C-style copy for
    // from_chars, which knows neither a leading '+' nor the D exponent.
    std::string plain;
    plain.reserve(text.size());
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') plain += '-';
        ++i;
    }
    std::size_t mantissa_digits = 0;
    while (i < text.size() && is_digit(text[i])) {
        plain += text[i++];
        ++mantissa_digits;
    }
    if (i < text.size() && text[i] == '.') {
        plain += text[i++];
        while (i < text.size() && is_digit(text[i])) {
            plain += text[i++];
            ++mantissa_digits;
        }
    }
    if (mantissa_digits == 0) return std::nullopt;
    if (i < text.size()) {
        const char e = text[i];
        if (e != 'e' && e != 'E' && e != 'd' && e != 'D') return std::nullopt;
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        std::size_t exponent_digits = 0;
        while (i < text.size() && is_digit(text[i])) {
            plain += text[i++];
            ++exponent_digits;
        }
        if (exponent_digits == 0 || i != text.size()) return std::nullopt;
    }
    double value = 0.0;
    const char* first = plain.data();
    const char* last = first + plain.size();
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range && end == last && underflows(plain)) {
        // Too small for a double: its nearest double is zero.
        return plain.front() == '-' ? -0.0 : 0.0;
    }
    if (ec != std::errc() || end != last || !std::isfinite(value)) return std::nullopt;
    return value;
}

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
