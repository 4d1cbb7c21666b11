// BMP, TIFF, PNG and PPM writers for the finished raster image.
#include "drivers/image_writers.h"

#include <zlib.h>

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>

namespace plotix::detail {

namespace {

AllocFailure& alloc_failure() {
    static AllocFailure f;
    return f;
}

// Appends 16- and 32-bit words one at a time, swapped when the host order
// differs from the file's.
void put16(std::string& out, std::uint16_t v, bool swap) {
    if (swap) qqpswp2(&v, 1);
    char b[2];
    std::memcpy(b, &v, 2);
    out.append(b, 2);
}

void put32(std::string& out, std::uint32_t v, bool swap) {
    if (swap) qqpswp(&v, 1);
    char b[4];
    std::memcpy(b, &v, 4);
    out.append(b, 4);
}

// Sizes the file formats can hold (their offsets are 32-bit).
bool sizes_ok(int width, int height) {
    constexpr long long kMax = 0x7FFFFFFFLL;
    return width > 0 && height > 0 && 3LL * width * height + 4LL * height < kMax / 2;
}

int clamp_entries(int entries) {
    return entries < 0 ? 0 : (entries > 256 ? 256 : entries);
}

int red(std::uint32_t c) {
    return static_cast<int>((c >> 16) & 0xFF);
}
int green(std::uint32_t c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
int blue(std::uint32_t c) {
    return static_cast<int>(c & 0xFF);
}

// One TIFF directory entry. A single SHORT sits in the first two bytes of the
// value field; longer values are given by their offset.
void tiff_entry(std::string& out, int tag, int type, std::uint32_t count, std::uint32_t value,
                bool swap) {
    put16(out, static_cast<std::uint16_t>(tag), swap);
    put16(out, static_cast<std::uint16_t>(type), swap);
    put32(out, count, swap);
    if (type == 3 && count == 1) {
        put16(out, static_cast<std::uint16_t>(value), swap);
        put16(out, 0, swap);
    } else {
        put32(out, value, swap);
    }
}

// A PNG chunk: length, type, data and the CRC over type and data.
void png_chunk(OutputFile& f, const char* type, const unsigned char* data, std::uint32_t n,
               bool swap) {
    std::string head;
    put32(head, n, swap);
    f.write(head);
    std::string body(type, 4);
    body.append(reinterpret_cast<const char*>(data), n);
    f.write(body);
    std::string crc;
    put32(crc, qqpcrc(reinterpret_cast<const unsigned char*>(body.data()), body.size()), swap);
    f.write(crc);
}

} // namespace

void qqpswp(std::uint32_t* words, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t v = words[i];
        words[i] = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    }
}

void qqpswp2(std::uint16_t* words, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        words[i] = static_cast<std::uint16_t>((words[i] >> 8) | (words[i] << 8));
    }
}

std::uint32_t qqpcrc(const unsigned char* bytes, std::size_t n) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) c = table[(c ^ bytes[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

int host_byte_order() {
    return std::endian::native == std::endian::little ? 1 : 0;
}

bool alloc_refused(std::string_view what, std::size_t n) {
    return alloc_failure() && alloc_failure()(what, n);
}

std::unique_ptr<unsigned char[]> qqpalloc(std::size_t n, std::string_view what) {
    if (alloc_refused(what, n)) return nullptr;
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[n > 0 ? n : 1]());
}

void set_alloc_failure(AllocFailure f) {
    alloc_failure() = std::move(f);
}

int qqpbmp(OutputFile& f, int device, int byteorder, int width, int height,
           const std::uint32_t colours[256], int entries, const RowReader& rows) {
    const bool rgb = device < 0;
    const bool swap = byteorder == 0; // the file is little-endian
    if (!sizes_ok(width, height)) return -2;
    const int bpp = rgb ? 3 : 1;
    const std::uint32_t r = (static_cast<std::uint32_t>(bpp * width) + 3u) & ~3u;
    const std::uint32_t p = rgb ? 0u : static_cast<std::uint32_t>(clamp_entries(entries));
    const std::uint32_t h = static_cast<std::uint32_t>(height);

    std::string head = "BM";
    put32(head, 54 + r * h + 4 * p, swap);
    put16(head, 0, swap);
    put16(head, 0, swap);
    put32(head, 54 + 4 * p, swap);
    put32(head, 40, swap);
    put32(head, static_cast<std::uint32_t>(width), swap);
    put32(head, h, swap);
    put16(head, 1, swap);
    put16(head, static_cast<std::uint16_t>(8 * bpp), swap);
    put32(head, 0, swap);
    put32(head, r * h, swap);
    put32(head, 2500, swap);
    put32(head, 2500, swap);
    put32(head, p, swap);
    put32(head, p, swap);
    for (std::uint32_t i = 0; i < p; ++i) {
        head += static_cast<char>(blue(colours[i]));
        head += static_cast<char>(green(colours[i]));
        head += static_cast<char>(red(colours[i]));
        head += '\0';
    }
    f.write(head);

    auto buf = qqpalloc(r, "row");
    if (!buf) return -2;
    for (int y = height - 1; y >= 0; --y) {
        rows(buf.get(), 0, y, rgb ? -width : width, 1);
        if (rgb) {
            for (int x = 0; x < width; ++x) std::swap(buf[3 * x], buf[3 * x + 2]);
        }
        f.write(buf.get(), r);
    }
    return f.ok() ? 0 : -1;
}

int qqptif(OutputFile& f, int device, int byteorder, int width, int height,
           const std::uint32_t colours[256], int /*entries*/, const RowReader& rows) {
    const bool rgb = device < 0;
    const bool swap = byteorder == 0; // the file is little-endian ("II")
    if (!sizes_ok(width, height)) return -2;
    const std::uint32_t bpp = rgb ? 3 : 1;
    const std::uint32_t w = static_cast<std::uint32_t>(width),
                        h = static_cast<std::uint32_t>(height);
    const std::uint32_t rowbytes = w * bpp;
    // Sizes and row lengths above 65535 do not fit the SHORT fields: those
    // fields are then LONGs.
    const int size_type = w > 0xFFFF || h > 0xFFFF ? 4 : 3;
    const int count_type = rowbytes > 0xFFFF ? 4 : 3;
    const std::uint32_t count_size = count_type == 4 ? 4 : 2;

    const std::uint32_t n = rgb ? 10 : 11;
    const std::uint32_t strips = 12 * n + 14;
    const std::uint32_t counts = strips + 4 * h;
    const std::uint32_t extra = counts + count_size * h; // 8, 8, 8 or the colour map
    const std::uint32_t first = extra + (rgb ? 6 : 1536);

    std::string head = "II";
    put16(head, 42, swap);
    put32(head, 8, swap);
    put16(head, static_cast<std::uint16_t>(n), swap);
    tiff_entry(head, 254, 4, 1, 0, swap);
    tiff_entry(head, 256, size_type, 1, w, swap);
    tiff_entry(head, 257, size_type, 1, h, swap);
    tiff_entry(head, 258, 3, rgb ? 3 : 1, rgb ? extra : 8, swap);
    tiff_entry(head, 259, 3, 1, 1, swap);
    tiff_entry(head, 262, 3, 1, rgb ? 2 : 3, swap);
    // Values that fit the 4-byte value field must sit there, not behind an
    // offset (a one-row image; one or two byte counts). The tables are
    // written in every case, so the layout does not change.
    tiff_entry(head, 273, 4, h, h == 1 ? first : strips, swap);
    tiff_entry(head, 277, 3, 1, bpp, swap);
    tiff_entry(head, 278, 3, 1, 1, swap);
    if (count_size * h <= 4) {
        put16(head, 279, swap);
        put16(head, static_cast<std::uint16_t>(count_type), swap);
        put32(head, h, swap);
        if (count_type == 4) {
            put32(head, rowbytes, swap);
        } else {
            put16(head, static_cast<std::uint16_t>(rowbytes), swap);
            put16(head, h == 2 ? static_cast<std::uint16_t>(rowbytes) : 0, swap);
        }
    } else {
        tiff_entry(head, 279, count_type, h, counts, swap);
    }
    if (!rgb) tiff_entry(head, 320, 3, 768, extra, swap);
    put32(head, 0, swap);
    f.write(head);

    std::string tables;
    for (std::uint32_t k = 0; k < h; ++k) put32(tables, first + k * rowbytes, swap);
    for (std::uint32_t k = 0; k < h; ++k) {
        if (count_type == 4) {
            put32(tables, rowbytes, swap);
        } else {
            put16(tables, static_cast<std::uint16_t>(rowbytes), swap);
        }
    }
    f.write(tables);
    if (rgb) {
        std::string triple;
        for (int i = 0; i < 3; ++i) put16(triple, 8, swap);
        f.write(triple);
    } else {
        auto map = qqpalloc(768 * sizeof(std::uint16_t), "colour map");
        if (!map) return -2;
        std::uint16_t* words = reinterpret_cast<std::uint16_t*>(map.get());
        for (int i = 0; i < 256; ++i) {
            words[i] = static_cast<std::uint16_t>(red(colours[i]) * 257);
            words[256 + i] = static_cast<std::uint16_t>(green(colours[i]) * 257);
            words[512 + i] = static_cast<std::uint16_t>(blue(colours[i]) * 257);
        }
        if (swap) qqpswp2(words, 768);
        f.write(words, 768 * sizeof(std::uint16_t));
    }

    auto buf = qqpalloc(rowbytes, "row");
    if (!buf) return -2;
    for (int y = 0; y < height; ++y) {
        rows(buf.get(), 0, y, rgb ? -width : width, 1);
        f.write(buf.get(), rowbytes);
    }
    return f.ok() ? 0 : -1;
}

int qqppng(OutputFile& f, int device, int byteorder, int width, int height,
           const std::uint32_t colours[256], int entries, const RowReader& rows) {
    const bool rgb = device < 0;
    const bool swap = byteorder == 1; // the file is big-endian
    if (!sizes_ok(width, height)) return -2;
    const std::size_t bpp = rgb ? 3 : 1;
    const std::size_t rowbytes = 1 + bpp * static_cast<std::size_t>(width);
    const std::size_t raw = rowbytes * static_cast<std::size_t>(height);

    static const unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    f.write(kSignature, 8);
    std::string ihdr;
    put32(ihdr, static_cast<std::uint32_t>(width), swap);
    put32(ihdr, static_cast<std::uint32_t>(height), swap);
    ihdr += static_cast<char>(8);
    ihdr += static_cast<char>(rgb ? 2 : 3);
    ihdr.append(3, '\0');
    png_chunk(f, "IHDR", reinterpret_cast<const unsigned char*>(ihdr.data()), 13, swap);
    if (!rgb) {
        const int p = clamp_entries(entries);
        unsigned char plte[768];
        for (int i = 0; i < p; ++i) {
            plte[3 * i] = static_cast<unsigned char>(red(colours[i]));
            plte[3 * i + 1] = static_cast<unsigned char>(green(colours[i]));
            plte[3 * i + 2] = static_cast<unsigned char>(blue(colours[i]));
        }
        png_chunk(f, "PLTE", plte, static_cast<std::uint32_t>(3 * p), swap);
    }

    auto image = qqpalloc(raw, "png image");
    if (!image) return -2;
    for (int y = 0; y < height; ++y) {
        unsigned char* row = image.get() + static_cast<std::size_t>(y) * rowbytes;
        row[0] = 0; // filter: none
        rows(row + 1, 0, y, rgb ? -width : width, 1);
    }
    const std::size_t room = raw + raw / 100 + 17; // with the 4-byte chunk type
    auto out = qqpalloc(room, "png output");
    if (!out) return -2;
    std::memcpy(out.get(), "IDAT", 4);

    z_stream z{};
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) return -3;
    z.next_in = image.get();
    z.avail_in = static_cast<uInt>(raw);
    z.next_out = out.get() + 4;
    z.avail_out = static_cast<uInt>(room - 4);
    const int done = deflate(&z, Z_FINISH);
    const std::size_t size = z.total_out;
    const int ended = deflateEnd(&z);
    if (done != Z_STREAM_END) return -4;
    if (ended != Z_OK) return -5;

    std::string len;
    put32(len, static_cast<std::uint32_t>(size), swap);
    f.write(len);
    f.write(out.get(), size + 4);
    std::string crc;
    put32(crc, qqpcrc(out.get(), size + 4), swap);
    f.write(crc);
    png_chunk(f, "IEND", nullptr, 0, swap);
    return f.ok() ? 0 : -1;
}

int qqpppm(OutputFile& f, int device, int width, int height, const std::uint32_t colours[256],
           const RowReader& rows) {
    const bool rgb = device < 0;
    if (!sizes_ok(width, height)) return -2;
    const std::size_t w = static_cast<std::size_t>(width);
    f.write("P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n");
    auto out = qqpalloc(3 * w, "row");
    auto index = qqpalloc(w, "row");
    if (!out || !index) return -2;
    for (int y = 0; y < height; ++y) {
        if (rgb) {
            rows(out.get(), 0, y, -width, 1);
        } else {
            rows(index.get(), 0, y, width, 1);
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint32_t c = colours[index[x]];
                out[3 * x] = static_cast<unsigned char>(red(c));
                out[3 * x + 1] = static_cast<unsigned char>(green(c));
                out[3 * x + 2] = static_cast<unsigned char>(blue(c));
            }
        }
        f.write(out.get(), 3 * w);
    }
    return f.ok() ? 0 : -1;
}

} // namespace plotix::detail
