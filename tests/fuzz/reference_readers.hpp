// Plain reference readers of the numbers the program accepts, for the fuzz
// targets of the readers: the shape is checked by a small state machine and
// the value comes from the C library (strtod, strtoll), not from the
// program's own conversion.  And how a bad value appears in an error message.
#pragma once

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace fuzz {

// [+-] digits [. digits] [(E|e|D|d) [+-] digits], at least one mantissa
// digit, the point optional, nothing else.  The value is the correctly
// rounded double (a value too small for a double rounds to zero or a
// subnormal); a value too large for a double is refused.  The fuzz
// processes run in the "C" locale, whose decimal point strtod expects.
inline std::optional<double> reference_real(std::string_view text) {
    enum State { start, sign, mantissa, point, fraction, exp_letter, exp_sign, exp_digits };
    State s = start;
    std::string plain;
    bool digit_seen = false;
    for (char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool exp = c == 'e' || c == 'E' || c == 'd' || c == 'D';
        switch (s) {
        case start:
            if (c == '+' || c == '-') {
                s = sign;
            } else if (digit) {
                s = mantissa;
            } else if (c == '.') {
                s = point;
            } else {
                return std::nullopt;
            }
            break;
        case sign:
        case mantissa:
            if (digit) {
                s = mantissa;
            } else if (c == '.') {
                s = point;
            } else if (exp && s == mantissa) {
                s = exp_letter;
            } else {
                return std::nullopt;
            }
            break;
        case point:
        case fraction:
            if (digit) {
                s = fraction;
            } else if (exp && (digit_seen)) {
                s = exp_letter;
            } else {
                return std::nullopt;
            }
            break;
        case exp_letter:
            if (c == '+' || c == '-') {
                s = exp_sign;
            } else if (digit) {
                s = exp_digits;
            } else {
                return std::nullopt;
            }
            break;
        case exp_sign:
        case exp_digits:
            if (!digit) return std::nullopt;
            s = exp_digits;
            break;
        }
        if (digit && s != exp_digits) digit_seen = true;
        plain += exp ? 'e' : c;
    }
    if (!digit_seen || s == start || s == sign || s == exp_letter || s == exp_sign) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(plain.c_str(), &end);
    if (end != plain.c_str() + plain.size()) return std::nullopt;
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// [+-] digits, nothing else, within the range of an int.
inline std::optional<int> reference_int(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i == text.size()) return std::nullopt;
    for (std::size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return std::nullopt;
    }
    const std::string copy(text);
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(copy.c_str(), &end, 10);
    if (errno == ERANGE || end != copy.c_str() + copy.size()) return std::nullopt;
    if (value < INT_MIN || value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

// A value from the input in an error message: its first 200 bytes, bytes 0
// to 31 and 127 as \xNN with two upper-case hex digits, every other byte as
// it is, and "..." after them when the value is longer.
inline std::string reference_quoted(std::string_view value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string s;
    for (char c : value.substr(0, 200)) {
        const int u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            s += "\\x";
            s += hex[u / 16];
            s += hex[u % 16];
        } else {
            s += c;
        }
    }
    if (value.size() > 200) s += "...";
    return s;
}

} // namespace fuzz
