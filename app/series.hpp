// Series of (time, value) pairs read from text.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace fasogram {

// At most this many (time, value) pairs are read; the rest of the file is
// not looked at.
inline constexpr std::size_t max_pairs = 20000;

struct Series {
    std::vector<double> t;     // times, in file order
    std::vector<double> x;     // values
    std::vector<double> sigma; // measurement errors (SeriesLayout::errors), else empty
    std::size_t size() const { return t.size(); }

    std::string header;   // the header line skipped, if any (without its line end)
    long header_line = 0; // its line number; 0 when there was none

    // Without SeriesLayout::errors: the first line whose pair is followed by
    // a third number on the same line (a column that is not read); 0 when
    // none is.
    long third_column_line = 0;
    // Reading stopped at the limit with more lines of data to come.
    bool more = false;
};

// How a series is read.  The dialogue reads at most max_pairs pairs and no
// header; batch runs read every pair and accept a header.
struct SeriesLayout {
    std::size_t limit = max_pairs; // pairs read at most
    bool header = false;           // a first line without a number is a header
    // Each line holds time, value and the value's error (finite, above 0),
    // all three on the line.
    bool errors = false;
};

// Reads pairs of time and value.  Each pair starts on a new line; its two
// numbers are separated by blanks, tabs or a comma and may stand on
// consecutive lines; whatever follows the second number on its line is
// ignored; empty lines, lines of separators alone and comment lines (whose
// first character other than a blank is '#' or '%') are skipped; CR LF line
// ends are accepted.  A lone time at the end of the input is dropped.  With
// `layout.errors` every pair is a triple (time, value, error) on one line
// instead, and a line with fewer numbers is an error.  Reading stops after
// `layout.limit` pairs (Series::more tells whether data lines follow; they
// are not read).  When `layout.header` is set, the first line that is
// neither empty nor a comment and holds no number is kept as the header
// instead.  A value that is not a number, an empty field where a number is
// read (between two commas, or before the first one: "1,,2", ",1,2") and an
// error that is not above 0 raise FatalError naming `name` and the line.
Series read_series(std::istream& in, std::string_view name, const SeriesLayout& layout = {});

// Opens `path` and reads it as above; a file that cannot be opened raises
// FatalError naming `name`.
Series read_series_file(const std::filesystem::path& path, std::string_view name,
                        const SeriesLayout& layout = {});

} // namespace fasogram
