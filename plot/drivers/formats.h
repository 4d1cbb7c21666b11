// The output formats of the library in one table: a row per keyword metafl
// takes, with its device number, the extensions of its files, what a plot in
// it makes, and the driver that draws it. The keyword lookup of metafl, the
// default file names, the driver of disini and the public format list all
// read this table; adding a format is one row in formats.cpp and its driver.
#ifndef PLOTIX_DRIVERS_FORMATS_H
#define PLOTIX_DRIVERS_FORMATS_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/driver.h"

namespace plotix::detail {

// What a plot in a format makes.
enum class Output {
    screen,  // a window on the display
    file,    // an output file
    memory,  // an image in memory only
    nothing, // nothing: the library does not define the format's contents
};

// The driver of a format for its device number.
using MakeDriver = std::unique_ptr<Driver> (*)(int device);

struct FormatRow {
    std::string_view keyword;    // 1..4 characters, upper case
    int device;                  // device number (several keywords may share one)
    std::string_view extensions; // lower case, blank-separated; the first one names the
                                 // default file "plotix.<extension>"; empty: no name
    Output output;
    MakeDriver make;
};

// The table in lookup order.
const std::vector<FormatRow>& format_table();
// The row of a keyword by its first four characters in any case, or nullptr.
const FormatRow* find_format(std::string_view keyword);
// The first row of a device number, or nullptr.
const FormatRow* format_of_device(int device);
// The extension of the default file name of a row ("" when it has none).
std::string_view default_extension(const FormatRow& row);

// Test support: a row added at the end of the table (replacing the row of
// the same keyword), and the table back to the library's own rows.
void add_format(const FormatRow& row);
void reset_formats();

} // namespace plotix::detail

#endif
