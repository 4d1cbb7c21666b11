// Output format keywords, device numbers and output file names.
#ifndef PLOTIX_LIFE_OUTPUT_H
#define PLOTIX_LIFE_OUTPUT_H

#include <string>
#include <string_view>

namespace plotix::detail {

// Device number of a format keyword, or 0 after warning 2.
int qqgdnr(std::string_view keyword);
// File name extension of a device number ("   " when it has none).
std::string qqgfxt(int device);
// The output file name of a plot at disini (devices other than screens): the
// name given by setfil (kept for the later plots) or "plotix." and the
// extension of the format. The driver settles its free version.
void select_output_file();

} // namespace plotix::detail

#endif
