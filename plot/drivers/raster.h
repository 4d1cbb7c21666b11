// The in-memory raster image of the image formats (TIFF, IMAG, VIRT, PNG,
// PPM, BMP): one-pixel lines, filled rectangles, colour changes and erasure
// in a buffer of colour indices (or R, G, B bytes), read out row by row by
// the image writers at disfin. One raster exists at a time.
#ifndef PLOTIX_DRIVERS_RASTER_H
#define PLOTIX_DRIVERS_RASTER_H

#include <cstdint>
#include <memory>
#include <string>

#include "drivers/driver.h"

namespace plotix::detail {

// The palette shared by the raster and the screen window.
struct PaletteTables {
    unsigned char r[256] = {}, g[256] = {}, b[256] = {};
};
PaletteTables& vlt();

// Images larger than this many bytes are refused as not enough memory.
inline constexpr std::size_t kRasterMaxBytes = std::size_t{1} << 30;

// Sets up the raster for a page of pagew x pageh plot units. With sized 0
// the image is 853 x 603 pixels (603 x 853 for a page higher than wide) and
// w, h return that size; otherwise w x h is used. bg is the background
// option (2 with RGB pixels: white background), rgb 1 gives three bytes per
// pixel. Returns 0, or 1 when there is no memory for the buffer (nothing is
// set up then).
int qqvini(int pagew, int pageh, int& w, int& h, int sized, int bg, int rgb);
// True while a raster exists.
bool raster_ready();
int raster_width();
int raster_height();
// Bytes per row (padded to a multiple of 4).
int raster_row_bytes();

void qqvclr(int index);
void qqvvlt(int type, const std::uint32_t* table);
// One-pixel line in the current colour, both end points included.
void qqvlin(int x1, int y1, int x2, int y2);
// Fills rows y1..y2, columns x1..x2 with colour index clr; the current colour
// stays.
void qqvfll(int x1, int y1, int x2, int y2, int clr);
void qqvers();
// Appends |n| pixels of each of rows y .. y + rows - 1 from column x to
// buffer: n >= 0 colour indices, n < 0 R, G, B triples. Pixels outside the
// image read as index 0 (black).
void qqvrdr(unsigned char* buffer, int x, int y, int n, int rows);
// Writes one row of |n| pixels from column x (the inverse of qqvrdr).
void qqvrow(const unsigned char* buffer, int x, int y, int n);
// Palette index nearest to r, g, b.
int qqgind(int r, int g, int b);
// The raw image file (device IMAG): returns 0, or 1 when the file cannot be
// created or written.
int qqvfil(const std::string& file, int option);
void qqvfin();

// Writes the finished raster to name with the writer of writer number
// (device number - 600: 1 TIFF, 2 raw image, 4 PNG, 5 PPM, 6 BMP) and turns
// its status into a warning. Returns true when the file was written.
bool qqrfil(const std::string& name, int writer);

std::unique_ptr<Driver> make_raster_driver();

} // namespace plotix::detail

#endif
