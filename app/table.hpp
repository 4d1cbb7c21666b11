#pragma once

#include "spectrum.hpp"

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace fasogram {

// One number of the spectrum table: 15 characters, right-aligned, one digit
// before the point and seven after, then "E", the sign and two exponent
// digits (1.2345678E-03).  A three-digit exponent is written as its sign and
// digits without the "E" (1.0000000-120).  Zero is 0.0000000E+00; values that
// are not finite read NaN, Infinity or -Infinity.
std::string format_table_field(double value);

// One table line: f, rho, C1, C2, C3 (75 characters, no line end).
std::string format_table_line(const SpectrumPoint& point);

// The spectrum table file.  Opening replaces an existing file; failures to
// create or to write it raise FatalError naming `name`.
class TableWriter {
  public:
    TableWriter(const std::filesystem::path& path, std::string_view name);
    void write(const SpectrumPoint& point);
    void close();

  private:
    std::ofstream out_;
    std::string name_;
};

} // namespace fasogram
