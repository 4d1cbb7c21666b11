// The series reader: (time, value) pairs from text, with comments, a header and CR LF lines.
#include "series.hpp"

#include "error.hpp"
#include "messages.hpp"
#include "numbers.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace fasogram {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits a line into its fields: commas split it into items, blanks split
// an item into words, and each word is a field.  An item without a word is
// an empty field when the line has a comma ("1,,2" has three fields, the
// second empty; "1 2" and "1, 2" have two).
std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    const bool commas = line.find(',') != std::string_view::npos;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        const std::string_view item = line.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        bool word = false;
        for (std::size_t i = 0; i < item.size();) {
            while (i < item.size() && is_blank(item[i])) ++i;
            const std::size_t begin = i;
            while (i < item.size() && !is_blank(item[i])) ++i;
            if (i > begin) {
                fields.push_back(item.substr(begin, i - begin));
                word = true;
            }
        }
        if (!word && commas) fields.push_back(std::string_view());
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return fields;
}

bool is_comment(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    return first != std::string_view::npos && (line[first] == '#' || line[first] == '%');
}

bool all_empty(const std::vector<std::string_view>& fields) {
    for (std::string_view field : fields)
        if (!field.empty()) return false;
    return true;
}

bool has_number(const std::vector<std::string_view>& fields) {
    for (std::string_view field : fields) {
        if (parse_real(field)) return true;
    }
    return false;
}

// Reads the lines of one input, with the file's name and the current line
// number for the messages.
class LineReader {
  public:
    LineReader(std::string_view name, long line) : name_(name), line_(line) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw FatalError(std::string(name_) + _(", line ") + std::to_string(line_) + ": " + what);
    }

    // The number in fields[k] (the k-th column, from 0).
    double number(const std::vector<std::string_view>& fields, std::size_t k) const {
        const std::string_view field = fields[k];
        if (field.empty())
            fail(_("empty field in column ") + std::to_string(k + 1) +
                 _(" (two separators in a row or one at the start)"));
        const std::optional<double> value = parse_real(field);
        if (!value) fail(_("malformed number: '") + quoted_input(field) + "'");
        return *value;
    }

  private:
    std::string_view name_;
    long line_;
};

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
        const std::vector<std::string_view> fields = split_fields(text);
        if (all_empty(fields)) continue;
        if (first_line) {
            first_line = false;
            if (layout.header && !has_number(fields)) {
                if (text.ends_with('\r')) text.remove_suffix(1);
                series.header = std::string(text);
                series.header_line = line_number;
                continue;
            }
        }
        const LineReader reader(name, line_number);
        if (layout.errors) {
            if (fields.size() < 3)
                reader.fail(_("three numbers (time, value and error) are expected and there are ") +
                            std::to_string(fields.size()));
            const double t = reader.number(fields, 0);
            const double x = reader.number(fields, 1);
            const double sigma = reader.number(fields, 2);
            if (!std::isfinite(sigma) || !(sigma > 0.0))
                reader.fail(_("the error must be a number greater than 0: '") +
                            quoted_input(fields[2]) + "'");
            series.t.push_back(t);
            series.x.push_back(x);
            series.sigma.push_back(sigma);
            continue;
        }
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const double number = reader.number(fields, k);
            if (!have_time) {
                have_time = true;
                time = number;
                continue;
            }
            series.t.push_back(time);
            series.x.push_back(number);
            have_time = false;
            // A third number after a pair that fills its line's first two
            // columns: a column of errors, perhaps, that is not read.
            if (k == 1 && fields.size() > 2 && series.third_column_line == 0 &&
                parse_real(fields[2]))
                series.third_column_line = line_number;
            break; // the rest of the line after a pair is ignored
        }
    }
    if (series.size() == layout.limit) {
        while (!series.more && std::getline(in, line))
            series.more = !is_comment(line) && !all_empty(split_fields(line));
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
    if (std::filesystem::is_directory(path, ec)) throw failed(_("cannot open the file"), EISDIR);
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw failed(_("cannot open the file"), errno);
    Series series = read_series(in, name, layout);
    if (in.bad()) throw failed(_("error reading the file"), errno);
    return series;
}

} // namespace fasogram
