#include "common/ppm.hpp"

#include <fstream>

#include "common/support.hpp"

namespace test_common {

std::ostream& operator<<(std::ostream& os, const Pixel& p) {
    return os << "(" << p.r << ", " << p.g << ", " << p.b << ")";
}

bool dark(const Pixel& p) {
    return p.r >= 0 && p.r < 100 && p.g < 100 && p.b < 100;
}

bool Image::read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic;
    channels = magic == "P6" ? 3 : magic == "P5" ? 1 : 0;
    int* fields[] = {&width, &height, &maxval};
    for (int* field : fields) {
        while (in >> std::ws && in.peek() == '#') { // comment lines
            std::string comment;
            std::getline(in, comment);
        }
        in >> *field;
    }
    if (!in || channels == 0 || maxval != 255 || width <= 0 || height <= 0) return false;
    in.get(); // the single blank after the header
    data.resize(std::size_t(width) * height * channels);
    in.read(reinterpret_cast<char*>(data.data()), std::streamsize(data.size()));
    return bool(in);
}

Pixel Image::at(int col, int row) const {
    if (col < 0 || row < 0 || col >= width || row >= height) return {};
    const std::size_t i = (std::size_t(row) * width + col) * channels;
    if (channels == 1) return {data[i], data[i], data[i]};
    return {data[i], data[i + 1], data[i + 2]};
}

bool render_with_ghostscript(const std::filesystem::path& file, int dpi,
                             const std::filesystem::path& out, std::string& log) {
    const std::string ext = out.extension().string();
    const char* device = ext == ".pgm" ? "pgmraw" : ext == ".png" ? "png16m" : "ppmraw";
    const std::string cmd =
        std::string("gs -dSAFER -dBATCH -dNOPAUSE -q -sPAPERSIZE=a4 -sDEVICE=") + device + " -r" +
        std::to_string(dpi) + " '-sOutputFile=" + out.string() + "' '" + file.string() + "'";
    return run_command(cmd, log) == 0;
}

} // namespace test_common
