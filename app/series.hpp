#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <string_view>
#include <vector>

namespace fasogram {

// At most this many (time, value) pairs are read; the rest of the file is
// not looked at.
inline constexpr std::size_t max_pairs = 20000;

struct Series {
    std::vector<double> t; // times, in file order
    std::vector<double> x; // values
    std::size_t size() const { return t.size(); }
};

// Reads pairs of time and value.  Each pair starts on a new line; its two
// numbers are separated by blanks, tabs or a comma and may stand on
// consecutive lines; whatever follows the second number on its line is
// ignored; empty lines are skipped; CR LF line ends are accepted.  A lone
// time at the end of the input is dropped.  Reading stops after max_pairs
// pairs.  A value that is not a number raises FatalError naming `name` and
// the line.
Series read_series(std::istream& in, std::string_view name);

// Opens `path` and reads it as above; a file that cannot be opened raises
// FatalError naming `name`.
Series read_series_file(const std::filesystem::path& path, std::string_view name);

} // namespace fasogram
