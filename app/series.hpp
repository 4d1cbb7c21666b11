// Series of (time, value) pairs read from text, with the program's messages.
#pragma once

#include <fasogram/series.hpp>

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

// The dialogue's layout: at most max_pairs pairs, no header.
inline constexpr SeriesLayout dialogue_layout{max_pairs, false, false};

// The engine's read_series (see fasogram/series.hpp), whose failures
// become FatalError naming `name` and the line, in the run's language.
// Each pair starts on a new line; its two
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
Series read_series(std::istream& in, std::string_view name,
                   const SeriesLayout& layout = dialogue_layout);

// Opens `path` and reads it as above; a file that cannot be opened raises
// FatalError naming `name`.
Series read_series_file(const std::filesystem::path& path, std::string_view name,
                        const SeriesLayout& layout = dialogue_layout);

} // namespace fasogram
