// The series reader: (time, value) pairs from text, with comments, a header and CR LF lines.
#include "fasogram/series.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

namespace fasogram {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits a line into its fields: commas split it into items, blanks split
// an item into words, and each word is a field.  An item without a word is
// an empty field when the line has a comma ("1,,2" has three fields, the
// second empty; "1 2" and "1, 2" have two).
void split_fields(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
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
    for (std::string_view field : fields)
        if (parse_real(field)) return true;
    return false;
}

std::string english(SeriesReadError::Kind kind, long line, std::size_t column,
                    const std::string& text, std::size_t fields) {
    std::string what = "line " + std::to_string(line) + ": ";
    switch (kind) {
    case SeriesReadError::Kind::empty_field:
        return what + "empty field in column " + std::to_string(column) +
               " (two separators in a row or one at the start)";
    case SeriesReadError::Kind::malformed_number:
        return what + "malformed number: '" + quoted_input(text) + "'";
    case SeriesReadError::Kind::too_few_columns:
        return what + "three numbers (time, value and error) are expected and there are " +
               std::to_string(fields);
    case SeriesReadError::Kind::bad_error:
        return what + "the error must be a number greater than 0: '" + quoted_input(text) + "'";
    }
    return what;
}

// The number in fields[k] (the k-th column, from 0) of line `line`.
double number(const std::vector<std::string_view>& fields, std::size_t k, long line) {
    const std::string_view field = fields[k];
    if (field.empty())
        throw SeriesReadError(SeriesReadError::Kind::empty_field, line, k + 1, {}, fields.size());
    const std::optional<double> value = parse_real(field);
    if (!value)
        throw SeriesReadError(SeriesReadError::Kind::malformed_number, line, k + 1,
                              std::string(field), fields.size());
    return *value;
}

// The reader over any source of lines: next(line) gives the next line
// without its '\n', false at the end.
template <class NextLine> Series read_lines(NextLine next, const SeriesLayout& layout) {
    Series series;
    std::string_view text;
    std::vector<std::string_view> fields;
    long line_number = 0;
    bool have_time = false; // a time is waiting for its value
    bool first_line = true; // no line with values seen yet
    double time = 0.0;
    while (series.size() < layout.limit && next(text)) {
        ++line_number;
        if (line_number == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
        if (is_comment(text)) continue;
        split_fields(text, fields);
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
        if (layout.errors) {
            if (fields.size() < 3)
                throw SeriesReadError(SeriesReadError::Kind::too_few_columns, line_number, 0, {},
                                      fields.size());
            const double t = number(fields, 0, line_number);
            const double x = number(fields, 1, line_number);
            const double sigma = number(fields, 2, line_number);
            if (!std::isfinite(sigma) || !(sigma > 0.0))
                throw SeriesReadError(SeriesReadError::Kind::bad_error, line_number, 3,
                                      std::string(fields[2]), fields.size());
            series.t.push_back(t);
            series.x.push_back(x);
            series.sigma.push_back(sigma);
            continue;
        }
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const double value = number(fields, k, line_number);
            if (!have_time) {
                have_time = true;
                time = value;
                continue;
            }
            series.t.push_back(time);
            series.x.push_back(value);
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
        while (!series.more && next(text)) {
            split_fields(text, fields);
            series.more = !is_comment(text) && !all_empty(fields);
        }
    }
    return series;
}

} // namespace

SeriesReadError::SeriesReadError(Kind kind, long line, std::size_t column, std::string text,
                                 std::size_t fields)
    : std::invalid_argument(english(kind, line, column, text, fields)), kind_(kind), line_(line),
      column_(column), text_(std::move(text)), fields_(fields) {}

Series read_series(std::istream& in, const SeriesLayout& layout) {
    std::string line;
    return read_lines(
        [&](std::string_view& text) {
            if (!std::getline(in, line)) return false;
            text = line;
            return true;
        },
        layout);
}

Series read_series(std::string_view all, const SeriesLayout& layout) {
    return read_lines(
        [&](std::string_view& text) {
            if (all.empty()) return false;
            const std::size_t end = all.find('\n');
            text = all.substr(0, end);
            all.remove_prefix(end == std::string_view::npos ? all.size() : end + 1);
            return true;
        },
        layout);
}

std::string quoted_input(std::string_view value) {
    constexpr std::size_t most = 200;
    std::string text;
    const bool cut = value.size() > most;
    if (cut) value = value.substr(0, most);
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02X", u);
            text += code;
        } else {
            text += c;
        }
    }
    if (cut) text += "...";
    return text;
}

} // namespace fasogram
