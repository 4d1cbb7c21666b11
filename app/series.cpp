// The series reader: (time, value) pairs from text, with comments, a header and CR LF lines.
#include "series.hpp"

#include "error.hpp"
#include "numbers.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace fasogram {

namespace {

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == ',';
}

// Splits a line into its values.
std::vector<std::string_view> split_values(std::string_view line) {
    std::vector<std::string_view> values;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_separator(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !is_separator(line[i])) ++i;
        if (i > start) values.push_back(line.substr(start, i - start));
    }
    return values;
}

bool is_comment(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    return first != std::string_view::npos && (line[first] == '#' || line[first] == '%');
}

bool has_number(const std::vector<std::string_view>& values) {
    for (std::string_view value : values) {
        if (parse_real(value)) return true;
    }
    return false;
}

} // namespace

Series read_series(std::istream& in, std::string_view name, const SeriesLayout& layout) {
    Series series;
    std::string line;
    long line_number = 0;
    bool have_time = false; // a time is waiting for its value
    bool first_line = true; // no line with values seen yet
    double time = 0.0;
    while (series.size() < layout.limit && std::getline(in, line)) {
        ++line_number;
        std::string_view text = line;
        if (line_number == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
        if (is_comment(text)) continue;
        const std::vector<std::string_view> values = split_values(text);
        if (values.empty()) continue;
        if (first_line) {
            first_line = false;
            if (layout.header && !has_number(values)) {
                if (text.ends_with('\r')) text.remove_suffix(1);
                series.header = std::string(text);
                series.header_line = line_number;
                continue;
            }
        }
        for (std::string_view value : values) {
            const std::optional<double> number = parse_real(value);
            if (!number) {
                throw FatalError(std::string(name) + ", linea " + std::to_string(line_number) +
                                 ": numero mal formado: '" + quoted_input(value) + "'");
            }
            if (!have_time) {
                have_time = true;
                time = *number;
                continue;
            }
            series.t.push_back(time);
            series.x.push_back(*number);
            have_time = false;
            break; // the rest of the line after a pair is ignored
        }
    }
    return series;
}

Series read_series_file(const std::filesystem::path& path, std::string_view name,
                        const SeriesLayout& layout) {
    const auto failed = [&name](const char* what, int error) {
        return FatalError(std::string(what) + " " + quoted_input(name) + ": " +
                          std::strerror(error == 0 ? EIO : error));
    };
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw failed("no se puede abrir el archivo", EISDIR);
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw failed("no se puede abrir el archivo", errno);
    Series series = read_series(in, name, layout);
    if (in.bad()) throw failed("error al leer el archivo", errno);
    return series;
}

} // namespace fasogram
