// Pictures of PostScript and PDF pages rendered by ghostscript, read back
// pixel by pixel.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace test_common {

// An RGB pixel; -1 in every part for a point outside the picture.
struct Pixel {
    int r = -1, g = -1, b = -1;
    bool operator==(const Pixel&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Pixel& p);

// Dark ink (each part below 100) inside the picture.
bool dark(const Pixel& p);

// A binary PPM (P6) or PGM (P5) with maximum value 255, comment lines allowed
// in the header, row 0 at the top.
struct Image {
    int width = 0, height = 0;
    int channels = 0; // 3 for PPM, 1 for PGM
    std::vector<unsigned char> data;

    // False for a missing, short or different file.
    bool read(const std::filesystem::path& file);
    // The pixel at (col, row); a grey level is repeated in all three parts.
    Pixel at(int col, int row) const;
};

// Renders a PostScript or PDF file with ghostscript on A4 paper (a PDF keeps
// its own page size) at dpi dots per inch into out, whose extension chooses
// the format: ".ppm" colour PPM, ".pgm" grey PGM, ".png" colour PNG. Returns
// whether ghostscript succeeded; log receives its messages.
bool render_with_ghostscript(const std::filesystem::path& file, int dpi,
                             const std::filesystem::path& out, std::string& log);

} // namespace test_common
