// The spectrum table: its fixed-column fields and lines, and the table file.
#pragma once

#include "fasogram/spectrum.hpp"
#include "output_file.hpp"

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace fasogram {

// One number of the spectrum table: 15 characters, right-aligned, one digit
// before the point and seven after, then "E", the sign and two exponent
// digits (1.2345678E-03).  A three-digit exponent is written as its sign and
// digits without the "E" (1.0000000-120).  Zero is 0.0000000E+00; values that
// are not finite read NaN, Infinity or -Infinity.
std::string format_table_field(double value);
// The same for a value carried past the range of a double (C1 to C3 near or
// beyond the ends of the range).
std::string format_table_field(const ScaledValue& value);

// One table line: f, rho, C1, C2, C3 (75 characters, no line end).
std::string format_table_line(const SpectrumPoint& point);

// The spectrum table file at any path.  It is written to a temporary file in
// the same directory and renamed over the path by close() only when it is
// complete (ReplacingFile), so that the path holds either the earlier file
// or the whole new table, never part of one.  A table that is not closed (an
// error stop) is removed.  A path that names a device or a pipe is written in
// place.  Failures to create, write or close it raise FatalError naming
// `name` (the path when no name is given) and the system's reason.
class TableWriter {
  public:
    explicit TableWriter(const std::filesystem::path& path);
    TableWriter(const std::filesystem::path& path, std::string_view name);

    void write(const SpectrumPoint& point);
    void close();

  private:
    ReplacingFile file_;
    std::string line_;
};

} // namespace fasogram
