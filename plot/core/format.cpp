// Locale-independent formatting of integers and reals, padding, and the
// device-unit rounding.
#include "core/format.h"

#include <charconv>
#include <cmath>

namespace plotix::detail {

std::string pad_left(std::string_view s, int width) {
    std::string r;
    if (static_cast<int>(s.size()) < width) r.assign(width - s.size(), ' ');
    r.append(s);
    return r;
}

std::string pad_right(std::string_view s, int width) {
    std::string r(s);
    if (static_cast<int>(r.size()) < width) r.append(width - r.size(), ' ');
    return r;
}

std::string fmt_int(std::int64_t v, int width) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return pad_left(std::string_view(buf, res.ptr - buf), width);
}

std::string fmt_fixed(double v, int width, int prec) {
    if (std::isnan(v)) return pad_left(std::signbit(v) ? "-nan" : "nan", width);
    if (std::isinf(v)) return pad_left(v < 0 ? "-inf" : "inf", width);
    char buf[512]; // the largest double has 309 integer digits
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, prec);
    if (res.ec != std::errc()) return pad_left("*", width);
    return pad_left(std::string_view(buf, res.ptr - buf), width);
}

std::string fmt_exp(double v, int width, int prec) {
    if (std::isnan(v)) return pad_left(std::signbit(v) ? "-nan" : "nan", width);
    if (std::isinf(v)) return pad_left(v < 0 ? "-inf" : "inf", width);
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, prec);
    if (res.ec != std::errc()) return pad_left("*", width);
    return pad_left(std::string_view(buf, res.ptr - buf), width);
}

std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            out += "\\x";
            out += kHex[u / 16];
            out += kHex[u % 16];
        } else {
            out += c;
        }
    }
    return out;
}

int rnd(double v) {
    constexpr double lim = 1073741824.0; // 2^30
    if (!std::isfinite(v)) return 0;
    v += 0.5;
    if (v > lim) v = lim;
    if (v < -lim) v = -lim;
    return static_cast<int>(v);
}

} // namespace plotix::detail
