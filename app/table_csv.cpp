// The batch run's spectrum table: fixed columns or CSV, a file or standard output.
#include "table_csv.hpp"

#include "error.hpp"
#include "messages.hpp"
#include "table.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace fasogram {

namespace {

void append_number(std::string& line, double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    line.append(buffer, result.ptr);
}

[[noreturn]] void stdout_failed(int error) {
    throw FatalError(_("cannot write to standard output: ") +
                     std::string(std::strerror(error == 0 ? EIO : error)));
}

} // namespace

std::string format_csv_line(const SpectrumPoint& point) {
    std::string line;
    append_number(line, point.f);
    // Non-finite values spelt as in the table: NaN, Infinity, -Infinity.
    line += ',';
    line += format_full_digits(point.rho, point.tail.rho);
    for (int k = 1; k <= 3; ++k) {
        line += ',';
        line += format_full_digits(coefficient(point, k));
    }
    return line;
}

bool is_csv_name(std::string_view name) {
    if (name.size() < 4) return false;
    std::string_view end = name.substr(name.size() - 4);
    std::string lower(end);
    for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower == ".csv";
}

TableOutput::TableOutput(const std::string& destination, RunOutputs& outputs) {
    if (destination.empty()) {
        discard_ = true;
        return;
    }
    if (destination == "-") {
        name_ = _("standard output");
        return;
    }
    name_ = destination;
    csv_ = is_csv_name(destination);
    file_ = &outputs.file(destination, destination);
    if (csv_) put(csv_header);
}

void TableOutput::put(std::string_view line) {
    if (discard_) return;
    line_.assign(line);
    line_ += '\n';
    if (file_) {
        file_->write(line_);
    } else if (std::fwrite(line_.data(), 1, line_.size(), stdout) != line_.size()) {
        stdout_failed(errno);
    }
}

void TableOutput::write(const SpectrumPoint& point) {
    put(csv_ ? format_csv_line(point) : format_table_line(point));
}

void TableOutput::finish() {
    if (discard_) return;
    if (file_) {
        file_->finish();
        return;
    }
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) stdout_failed(errno);
}

} // namespace fasogram
