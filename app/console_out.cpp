// The dialogue's console: lines and real numbers written as the program shows them.
#include "console_out.hpp"

#include "error.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace fasogram {

namespace {

// "%.9G" of a non-negative finite value, independent of the C locale.
std::string general9(double magnitude) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::general, 9);
    std::string text(buffer, result.ptr);
    for (char& c : text) {
        if (c == 'e') c = 'E';
    }
    return text;
}

} // namespace

std::string format_real_item(double value) {
    std::string item = " ";
    item += std::signbit(value) && value != 0.0 ? '-' : ' ';
    const double magnitude = std::fabs(value);
    if (std::isnan(magnitude)) return item + "NAN";
    if (std::isinf(magnitude)) return item + "INF";
    std::string text = general9(magnitude);
    if (text.find('.') == std::string::npos) {
        const auto exponent = text.find('E');
        if (exponent == std::string::npos) {
            text += '.';
        } else {
            text.insert(exponent, 1, '.');
        }
    }
    return item + text;
}

std::string format_integer_item(long long value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return " " + std::string(buffer, result.ptr);
}

std::string Item::render() const {
    switch (kind_) {
    case Kind::text: return std::string(text_);
    case Kind::integer: return format_integer_item(integer_);
    case Kind::real: return format_real_item(real_);
    }
    return {};
}

std::string format_line(std::initializer_list<Item> items) {
    if (items.size() == 0) return {};
    constexpr std::size_t last_column = 80;
    std::string line = " ";
    std::size_t line_start = 0;
    for (const Item& item : items) {
        const std::string text = item.render();
        const std::size_t column = line.size() - line_start;
        if (column > 1 && column + text.size() >= last_column) {
            line += "\n ";
            line_start = line.size() - 1;
        }
        line += text;
    }
    return line;
}

void write_line(std::ostream& out, std::initializer_list<Item> items) {
    out << format_line(items) << '\n';
}

void flush_output(std::ostream& out) {
    errno = 0;
    out.flush();
    int errnum = errno;
    const bool stream_ok = static_cast<bool>(out);
    errno = 0;
    const bool stdout_ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    if (errnum == 0) errnum = errno;
    if (stream_ok && stdout_ok) return;
    std::string message = "no se puede escribir en la salida estandar";
    if (errnum != 0) message += std::string(": ") + std::strerror(errnum);
    throw FatalError(message);
}

} // namespace fasogram
