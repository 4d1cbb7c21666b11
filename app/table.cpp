// The spectrum table's fields and lines, and the table file of the dialogue.
#include "table.hpp"

#include "error.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace fasogram {

namespace {

constexpr std::size_t field_width = 15;

std::string right_align(std::string text) {
    if (text.size() < field_width) text.insert(0, field_width - text.size(), ' ');
    return text;
}

// The field from its mantissa (like -1.2345678) and decimal exponent.
std::string field_of(std::string field, int exponent) {
    const char sign = exponent < 0 ? '-' : '+';
    if (exponent < 0) exponent = -exponent;
    if (exponent >= 100) {
        field += sign;
        field += std::to_string(exponent);
    } else {
        field += 'E';
        field += sign;
        if (exponent < 10) field += '0';
        field += std::to_string(exponent);
    }
    return right_align(field);
}

} // namespace

std::string format_table_field(double value) {
    if (std::isnan(value)) return right_align("NaN");
    if (std::isinf(value)) return right_align(value < 0 ? "-Infinity" : "Infinity");
    if (value == 0.0) value = 0.0; // no minus sign on a negative zero

    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 7);
    const std::string text(buffer, result.ptr); // like -1.2345678e-03
    const auto e = text.find('e');
    const int exponent = std::atoi(text.c_str() + e + 1);
    return field_of(text.substr(0, e), exponent);
}

std::string format_table_field(const ScaledValue& value) {
    if (value.exponent == 0 || !std::isfinite(value.hi) || !std::isfinite(value.lo))
        return format_table_field(value.hi + value.lo);
    const DecimalDigits d = decimal_digits(value, 8);
    std::string mantissa = d.negative ? "-" : "";
    mantissa += d.digits[0];
    mantissa += '.';
    mantissa += d.digits.substr(1);
    return field_of(mantissa, d.exponent);
}

std::string format_table_line(const SpectrumPoint& point) {
    return format_table_field(point.f) + format_table_field(point.rho) +
           format_table_field(coefficient(point, 1)) + format_table_field(coefficient(point, 2)) +
           format_table_field(coefficient(point, 3));
}

TableWriter::TableWriter(const std::filesystem::path& path) : TableWriter(path, path.string()) {}

TableWriter::TableWriter(const std::filesystem::path& path, std::string_view name)
    : file_(path, name) {}

void TableWriter::write(const SpectrumPoint& point) {
    line_ = format_table_line(point);
    line_ += '\n';
    file_.write(line_);
}

void TableWriter::close() {
    file_.commit();
}

} // namespace fasogram
