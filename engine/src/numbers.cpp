// Numbers read from text in any locale: reals with E, e, D or d exponents.
#include "fasogram/series.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>
#include <system_error>

namespace fasogram {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The value of a C-syntax number that from_chars found out of range: a
// magnitude too small for a double reads as the nearest double (a signed
// zero or a subnormal), one too large as infinity.  strtod rounds the same
// way; it runs in the C locale whatever the program's locale is.
double out_of_range_value(const std::string& plain) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    if (c_locale == locale_t(0)) return HUGE_VAL; // refused as before
    return strtod_l(plain.c_str(), nullptr, c_locale);
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
    if (end != last) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        value = out_of_range_value(plain);
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

} // namespace fasogram
