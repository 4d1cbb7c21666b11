// Output format keywords, device numbers and output file names.
#ifndef PLOTIX_CORE_OUTPUT_H
#define PLOTIX_CORE_OUTPUT_H

#include <string>
#include <string_view>

namespace plotix::detail {

// Device number of a format keyword, or 0 after warning 2.
int qqgdnr(std::string_view keyword);
// File name extension of a device number ("   " when it has none).
std::string qqgfxt(int device);
// Resolves a clash with an existing file by a version number in place.
// Returns 0, or 1 when more than 9999 versions exist (the name is unusable).
int gfilnn(std::string& name);

// File selection at disini for devices above 100: settles the name, resets
// the line buffer and opens the output file of the stream devices.
void select_output_file();
// Closes the output file (and writes out a pending line first).
void close_output_file();
// Resolution of the raster image name at disfin.
void raster_output_file();

} // namespace plotix::detail

#endif
