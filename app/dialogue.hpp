// The interactive dialogue.
#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string_view>

namespace fasogram {

inline constexpr std::string_view series_file_name = "datos.dat";
inline constexpr std::string_view table_file_name = "fasogram.dat";

// The contact text of the banner's fourth line.
inline constexpr std::string_view contact_text = "contacto: fasogram@example.org";

// Runs the whole program: banner, reading of datos.dat from `dir`, the
// questions read from `in`, the spectrum computation and the table written
// to fasogram.dat in `dir`.  The dialogue goes to `out`; an error stop
// prints one "fasogram: error: ..." line on `err`.  Returns the exit status
// (0 after a complete run, 1 after an error stop).
int run_fasogram(std::istream& in, std::ostream& out, std::ostream& err,
                 const std::filesystem::path& dir = {});

} // namespace fasogram
