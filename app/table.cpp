#include "table.hpp"

#include "error.hpp"

#include <sys/stat.h>
#include <unistd.h>

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
    const std::string mantissa = text.substr(0, e);
    const char sign = text[e + 1];
    const int exponent = std::atoi(text.c_str() + e + 2);

    std::string field = mantissa;
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

std::string format_table_line(const SpectrumPoint& point) {
    return format_table_field(point.f) + format_table_field(point.rho) +
           format_table_field(point.c1) + format_table_field(point.c2) +
           format_table_field(point.c3);
}

TableWriter::TableWriter(const std::filesystem::path& path) : TableWriter(path, path.string()) {}

TableWriter::TableWriter(const std::filesystem::path& path, std::string_view name)
    : path_(path), name_(name) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) fail("no se puede crear el archivo ", EISDIR);
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe is written as it is: there is nothing to
            // replace.
            errno = 0;
            out_ = std::fopen(path.c_str(), "wb");
            if (out_ == nullptr) fail("no se puede crear el archivo ", errno);
            return;
        }
    }
    // The temporary file lies beside the table, so that the rename stays on
    // one file system; it is hidden until it becomes the table.
    const std::filesystem::path dir = path.parent_path();
    temp_ = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    errno = 0;
    const int fd = mkstemp(temp_.data());
    if (fd < 0) {
        const int errnum = errno;
        temp_.clear();
        fail("no se puede crear el archivo ", errnum);
    }
    // The permissions a file created the usual way gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    out_ = fdopen(fd, "wb");
    if (out_ == nullptr) {
        const int errnum = errno;
        ::close(fd);
        fail("no se puede crear el archivo ", errnum);
    }
}

TableWriter::~TableWriter() {
    if (out_ != nullptr) std::fclose(out_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

void TableWriter::fail(const char* what, int errnum) {
    if (out_ != nullptr) std::fclose(out_);
    out_ = nullptr;
    if (!temp_.empty()) unlink(temp_.c_str());
    temp_.clear();
    std::string message = what + name_;
    if (errnum != 0) message += std::string(": ") + std::strerror(errnum);
    throw FatalError(message);
}

void TableWriter::write(const SpectrumPoint& point) {
    if (out_ == nullptr) fail("error al escribir el archivo ", EBADF);
    const std::string line = format_table_line(point) + '\n';
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), out_) != line.size()) {
        fail("error al escribir el archivo ", errno);
    }
}

void TableWriter::close() {
    if (out_ == nullptr) fail("error al escribir el archivo ", EBADF);
    errno = 0;
    if (std::fflush(out_) != 0) fail("error al escribir el archivo ", errno);
    std::FILE* f = out_;
    out_ = nullptr;
    errno = 0;
    if (std::fclose(f) != 0) fail("error al escribir el archivo ", errno);
    if (temp_.empty()) return; // written in place
    errno = 0;
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
        fail("error al escribir el archivo ", errno);
    }
    temp_.clear();
}

} // namespace fasogram
