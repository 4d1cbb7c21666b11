// Image file writers (BMP, TIFF, PNG, PPM) and the memory helper they share
// with the PDF writer. Each writer writes the whole image into an output file
// that the caller has created and closes, and returns 0 on success, -1 when
// the file has failed, -2 when there is no memory for its buffers; PNG adds
// -3, -4 and -5 for failures of the compressor (initialisation, unfinished
// stream, end).
#ifndef PLOTIX_DRIVERS_IMAGE_WRITERS_H
#define PLOTIX_DRIVERS_IMAGE_WRITERS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "drivers/output_file.h"

namespace plotix::detail {

// The row read-out of an image: appends to buffer |n| pixels of rows y ..
// y + rows - 1 starting at column x; n >= 0 gives one colour index per pixel,
// n < 0 three bytes red, green, blue per pixel (the signature of qqvrdr).
using RowReader = std::function<void(unsigned char* buffer, int x, int y, int n, int rows)>;

// Arguments: the output file; device number, negative when the image holds RGB
// pixels (the row reader is then asked for RGB rows); host byte order, 1 on a
// little-endian host; width and height in pixels; the colour table of 256
// packed 0x00RRGGBB colours; the number of palette entries to write (BMP and
// PNG; TIFF always writes 256); the row reader.
int qqpbmp(OutputFile& file, int device, int byteorder, int width, int height,
           const std::uint32_t colours[256], int entries, const RowReader& rows);
int qqptif(OutputFile& file, int device, int byteorder, int width, int height,
           const std::uint32_t colours[256], int entries, const RowReader& rows);
int qqppng(OutputFile& file, int device, int byteorder, int width, int height,
           const std::uint32_t colours[256], int entries, const RowReader& rows);
int qqpppm(OutputFile& file, int device, int width, int height, const std::uint32_t colours[256],
           const RowReader& rows);

// Reverses the byte order of n 32-bit words in place.
void qqpswp(std::uint32_t* words, std::size_t n);
// Swaps the two bytes of n 16-bit words in place.
void qqpswp2(std::uint16_t* words, std::size_t n);
// CRC-32 of PNG chunks (reflected polynomial 0xEDB88320, all ones in and out).
std::uint32_t qqpcrc(const unsigned char* bytes, std::size_t n);

// 1 when this host stores numbers little-endian, else 0: the byte-order
// argument of the writers.
int host_byte_order();

// Zero-filled memory for the writers' buffers; nullptr when there is none.
// what names the buffer for the test hook.
std::unique_ptr<unsigned char[]> qqpalloc(std::size_t n, std::string_view what);
// True when the test hook refuses an allocation of n bytes for what (for
// buffers that are not made by qqpalloc).
bool alloc_refused(std::string_view what, std::size_t n);
// Test hook: when set and returning true for (what, n), that allocation fails.
using AllocFailure = std::function<bool(std::string_view what, std::size_t n)>;
void set_alloc_failure(AllocFailure f);

} // namespace plotix::detail

#endif
