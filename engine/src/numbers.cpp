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
    // The shape is checked by hand: from_chars knows neither a leading '+'
    // nor the D exponent, and takes what it can of a longer text.  It reads
    // the text itself where that is in C syntax already (nearly always), a
    // plain copy otherwise.
    bool copy = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) copy = text[i++] == '+';
    std::size_t mantissa_digits = 0;
    while (i < text.size() && is_digit(text[i])) {
        ++i;
        ++mantissa_digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && is_digit(text[i])) {
            ++i;
            ++mantissa_digits;
        }
    }
    if (mantissa_digits == 0) return std::nullopt;
    if (i < text.size()) {
        const char e = text[i];
        if (e != 'e' && e != 'E' && e != 'd' && e != 'D') return std::nullopt;
        copy = copy || e == 'd' || e == 'D';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t exponent_digits = 0;
        while (i < text.size() && is_digit(text[i])) {
            ++i;
            ++exponent_digits;
        }
        if (exponent_digits == 0 || i != text.size()) return std::nullopt;
    }
    std::string plain;
    if (copy) {
        plain.reserve(text.size());
        for (const char c : text)
            if (c == 'd' || c == 'D')
                plain += 'e';
            else if (c != '+' || !plain.empty())
                plain += c;
    }
    const std::string_view c_text = copy ? std::string_view(plain) : text;
    double value = 0.0;
    const char* first = c_text.data();
    const char* last = first + c_text.size();
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (end != last) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        value = out_of_range_value(std::string(c_text));
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

} // namespace fasogram
