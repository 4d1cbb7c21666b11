// The in-memory raster image of the image formats (TIFF, IMAG, VIRT, PNG,
// PPM, BMP): lines, filled rectangles, colour changes and erasure in a
// buffer of colour indices (or R, G, B bytes), read out row by row by the
// image writers at disfin.
#ifndef PLOTIX_DRIVERS_RASTER_H
#define PLOTIX_DRIVERS_RASTER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "drivers/driver.h"
#include "drivers/output_file.h"

namespace plotix::detail {

// A palette of 256 colours.
struct PaletteTables {
    unsigned char r[256] = {}, g[256] = {}, b[256] = {};
    // Takes the table of 256 packed 0x00RRGGBB colours.
    void load(const std::uint32_t* table);
};

// Images larger than this many bytes are refused as not enough memory.
inline constexpr std::size_t kRasterMaxBytes = std::size_t{1} << 30;

class RasterImage {
  public:
    // Sets up the image for a page of pagew x pageh plot units. With sized 0
    // the image is 853 x 603 pixels (603 x 853 for a page higher than wide)
    // and w, h return that size; otherwise w x h is used. bg is the
    // background option (2 with RGB pixels: white background), rgb 1 gives
    // three bytes per pixel. Returns 0, or 1 when there is no memory for the
    // buffer (nothing is set up then).
    int qqvini(int pagew, int pageh, int& w, int& h, int sized, int bg, int rgb);
    // True while the image exists.
    bool ready() const { return cvirt_ != nullptr; }
    int width() const { return nwwind_; }
    int height() const { return nhwind_; }
    // Bytes per row (padded to a multiple of 4).
    int row_bytes() const { return nbytes_; }
    // Lines are this many pixels wide (1 by default).
    void set_line_width(int pixels) { lwidth_ = pixels < 1 ? 1 : pixels; }

    void qqvclr(int index);
    void qqvvlt(int type, const std::uint32_t* table);
    const PaletteTables& palette() const { return vlt_; }
    // Line in the current colour, both end points included.
    void qqvlin(int x1, int y1, int x2, int y2);
    // Fills rows y1..y2, columns x1..x2 with colour index clr; the current
    // colour stays.
    void qqvfll(int x1, int y1, int x2, int y2, int clr);
    void qqvers();
    // Appends |n| pixels of each of rows y .. y + rows - 1 from column x to
    // buffer: n >= 0 colour indices, n < 0 R, G, B triples. Pixels outside
    // the image read as index 0 (black).
    void qqvrdr(unsigned char* buffer, int x, int y, int n, int rows) const;
    // Writes one row of |n| pixels from column x (the inverse of qqvrdr).
    void qqvrow(const unsigned char* buffer, int x, int y, int n);
    // Palette index nearest to r, g, b.
    int qqgind(int r, int g, int b) const;
    // The raw image file (device IMAG) into file: returns 0, or 1 when there
    // is no image.
    int qqvfil(OutputFile& file, int option) const;
    void qqvfin();

    bool rgb() const { return irgb_ != 0; }
    // The highest colour index in an indexed image (0 for a true-colour one).
    int highest_index() const;

  private:
    unsigned char* pixel_at(int x, int y) const;
    bool inside(int x, int y) const;
    void set_pixel(int x, int y);
    void plot(int x, int y); // one point of a line at the line width
    bool near_image(int x, int y) const;
    bool cut_to_box(int& x1, int& y1, int& x2, int& y2) const;

    int nwwind_ = 0, nhwind_ = 0; // image width and height in pixels
    int irgb_ = 0;                // 0 colour indices, 1 R, G, B bytes
    int irev_ = 0;                // background option
    int bpp_ = 1;                 // bytes per pixel
    int nbytes_ = 0;              // bytes per row, a multiple of 4
    int lwidth_ = 1;              // line width in pixels
    std::unique_ptr<unsigned char[]> cvirt_;
    int nclr_ = 0; // current colour index and its R, G, B
    unsigned char ir_ = 0, ig_ = 0, ib_ = 0;
    PaletteTables vlt_;
};

// The image formats: writer number 1 TIFF, 2 raw image, 3 in memory only
// (no file), 4 PNG, 5 PPM, 6 BMP. The name of TIFF, raw, PNG and PPM files
// is settled at disini and again at disfin, that of BMP at disfin only.
std::unique_ptr<Driver> make_raster_driver(int writer);

} // namespace plotix::detail

#endif
