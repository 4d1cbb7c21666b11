// The image file writers: exact BMP, TIFF and PPM layouts, PNG chunks, row
// order and padding, checks by independent readers (PIL, tiffinfo), and the
// error codes.
#include <zlib.h>

#include <cstdlib>

#include "common/support.hpp"
#include "drivers/image_writers.h"
#include "test_support.h"

using namespace plotix_test;
using test_common::run_command;
namespace d = plotix::detail;
namespace fs = std::filesystem;

namespace {

// A writer into a file of its own: the writer's status; -1 when the file
// cannot be created or completed. A failed file is given up.
template <class Write> int to_file(const std::string& name, Write write) {
    d::OutputFile f;
    if (!f.create(name)) return -1;
    const int status = write(f);
    if (status != 0) {
        f.discard();
        return status;
    }
    return f.close() ? 0 : -1;
}

int qqpbmp(const std::string& name, int device, int order, int w, int h,
           const std::uint32_t* colours, int entries, const d::RowReader& rows) {
    return to_file(name, [&](d::OutputFile& f) {
        return d::qqpbmp(f, device, order, w, h, colours, entries, rows);
    });
}

int qqptif(const std::string& name, int device, int order, int w, int h,
           const std::uint32_t* colours, int entries, const d::RowReader& rows) {
    return to_file(name, [&](d::OutputFile& f) {
        return d::qqptif(f, device, order, w, h, colours, entries, rows);
    });
}

int qqppng(const std::string& name, int device, int order, int w, int h,
           const std::uint32_t* colours, int entries, const d::RowReader& rows) {
    return to_file(name, [&](d::OutputFile& f) {
        return d::qqppng(f, device, order, w, h, colours, entries, rows);
    });
}

int qqpppm(const std::string& name, int device, int w, int h, const std::uint32_t* colours,
           const d::RowReader& rows) {
    return to_file(name,
                   [&](d::OutputFile& f) { return d::qqpppm(f, device, w, h, colours, rows); });
}

// A small image with an odd width: colour index (3x + y) mod 9.
constexpr int kW = 5, kH = 3;

int pixel(int x, int y) {
    return (3 * x + y) % 9;
}

struct Palette {
    std::uint32_t c[256];
    Palette() {
        for (int i = 0; i < 256; ++i) {
            const std::uint32_t r = (i * 17 + 5) & 0xFF, gr = (255 - i * 5) & 0xFF,
                                b = (i * 3 + 1) & 0xFF;
            c[i] = r << 16 | gr << 8 | b;
        }
    }
    int r(int i) const { return (c[i] >> 16) & 0xFF; }
    int g(int i) const { return (c[i] >> 8) & 0xFF; }
    int b(int i) const { return c[i] & 0xFF; }
};

const Palette kPal;

// Stands in for the raster read-out: indices, or their palette colours for
// n < 0. Records the rows asked for.
d::RowReader reader(std::vector<int>* rows_read, int (*pix)(int, int) = pixel) {
    return [rows_read, pix](unsigned char* buf, int x, int y, int n, int rows) {
        EXPECT_EQ(x, 0);
        EXPECT_EQ(rows, 1);
        if (rows_read) rows_read->push_back(y);
        for (int i = 0; i < std::abs(n); ++i) {
            const int idx = pix(x + i, y);
            if (n >= 0) {
                *buf++ = static_cast<unsigned char>(idx);
            } else {
                *buf++ = static_cast<unsigned char>(kPal.r(idx));
                *buf++ = static_cast<unsigned char>(kPal.g(idx));
                *buf++ = static_cast<unsigned char>(kPal.b(idx));
            }
        }
    };
}

void le16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void le32(std::string& s, unsigned v) {
    le16(s, v & 0xFFFF);
    le16(s, v >> 16);
}
unsigned get16(const std::string& s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}
unsigned get32(const std::string& s, std::size_t at) {
    return get16(s, at) | get16(s, at + 2) << 16;
}
unsigned be32(const std::string& s, std::size_t at) {
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

// The image as an independent reader sees it: mode, size and RGB pixels.
std::string pil(const std::string& file) {
    return run_command(
        "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "im.load(); print(im.format, im.mode, im.size[0], im.size[1]); "
        "print(' '.join('%d,%d,%d' % p for p in im.convert('RGB').getdata()))\" " +
        file);
}

std::string expected_pil(const char* format, const char* mode, int w, int h,
                         int (*pix)(int, int) = pixel) {
    std::string s =
        std::string(format) + " " + mode + " " + std::to_string(w) + " " + std::to_string(h) + "\n";
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int i = pix(x, y);
            s += std::to_string(kPal.r(i)) + "," + std::to_string(kPal.g(i)) + "," +
                 std::to_string(kPal.b(i)) + (x == w - 1 && y == h - 1 ? "\n" : " ");
        }
    }
    return s;
}

int zero(int, int) {
    return 0;
}

} // namespace

TEST_F(PlotixTest, BmpLayout) {
    std::vector<int> rows;
    ASSERT_EQ(qqpbmp("a.bmp", 606, 1, kW, kH, kPal.c, 9, reader(&rows)), 0);
    EXPECT_EQ(rows, (std::vector<int>{2, 1, 0})); // bottom row first
    // Rows of 8 bytes (5 rounded up to 4), 9 palette entries.
    std::string want = "BM";
    le32(want, 54 + 8 * 3 + 36);
    le32(want, 0);
    for (unsigned v : {54u + 36u, 40u, 5u, 3u}) le32(want, v);
    le16(want, 1);
    le16(want, 8);
    for (unsigned v : {0u, 24u, 2500u, 2500u, 9u, 9u}) le32(want, v);
    for (int i = 0; i < 9; ++i) {
        want += static_cast<char>(kPal.b(i));
        want += static_cast<char>(kPal.g(i));
        want += static_cast<char>(kPal.r(i));
        want += '\0';
    }
    for (int y = kH - 1; y >= 0; --y) {
        for (int x = 0; x < kW; ++x) want += static_cast<char>(pixel(x, y));
        want.append(3, '\0');
    }
    EXPECT_EQ(read_file("a.bmp"), want);
    EXPECT_EQ(pil("a.bmp"), expected_pil("BMP", "P", kW, kH));

    // RGB: 24 bits, no palette, rows of 16 bytes in blue, green, red order.
    ASSERT_EQ(qqpbmp("b.bmp", -606, 1, kW, kH, kPal.c, 9, reader(nullptr)), 0);
    std::string b = read_file("b.bmp");
    ASSERT_EQ(b.size(), 54u + 16u * 3u);
    EXPECT_EQ(get32(b, 2), b.size());
    EXPECT_EQ(get32(b, 10), 54u);
    EXPECT_EQ(get16(b, 28), 24u);
    EXPECT_EQ(get32(b, 34), 48u);
    EXPECT_EQ(get32(b, 46), 0u);
    EXPECT_EQ(static_cast<unsigned char>(b[54]), kPal.b(pixel(0, 2)));
    EXPECT_EQ(static_cast<unsigned char>(b[56]), kPal.r(pixel(0, 2)));
    EXPECT_EQ(b.substr(54 + 15, 1), std::string(1, '\0'));
    EXPECT_EQ(pil("b.bmp"), expected_pil("BMP", "RGB", kW, kH));

    // The full page image: 853 x 603 with the small table and with 256 colours.
    ASSERT_EQ(qqpbmp("c.bmp", 606, 1, 853, 603, kPal.c, 9, reader(nullptr, zero)), 0);
    std::string c = read_file("c.bmp");
    EXPECT_EQ(c.size(), 516258u);
    EXPECT_EQ(get32(c, 2), 516258u);
    EXPECT_EQ(get32(c, 10), 90u);
    ASSERT_EQ(qqpbmp("d.bmp", 606, 1, 853, 603, kPal.c, 256, reader(nullptr, zero)), 0);
    EXPECT_EQ(get32(read_file("d.bmp"), 10), 1078u);
}

TEST_F(PlotixTest, TiffLayout) {
    // The page image: 11 entries, tables at 146, 2558, 3764, rows from 5300.
    ASSERT_EQ(qqptif("p.tif", 601, 1, 853, 603, kPal.c, 9, reader(nullptr, zero)), 0);
    std::string t = read_file("p.tif");
    ASSERT_EQ(t.size(), 5300u + 853u * 603u);
    EXPECT_EQ(t.substr(0, 4), std::string("II*\0", 4));
    EXPECT_EQ(get32(t, 4), 8u);
    ASSERT_EQ(get16(t, 8), 11u);
    const unsigned tags[11] = {254, 256, 257, 258, 259, 262, 273, 277, 278, 279, 320};
    const unsigned types[11] = {4, 3, 3, 3, 3, 3, 4, 3, 3, 3, 3};
    const unsigned counts[11] = {1, 1, 1, 1, 1, 1, 603, 1, 1, 603, 768};
    const unsigned values[11] = {0, 853, 603, 8, 1, 3, 146, 1, 1, 2558, 3764};
    for (int i = 0; i < 11; ++i) {
        const std::size_t e = 10 + 12 * i;
        EXPECT_EQ(get16(t, e), tags[i]);
        EXPECT_EQ(get16(t, e + 2), types[i]) << tags[i];
        EXPECT_EQ(get32(t, e + 4), counts[i]) << tags[i];
        EXPECT_EQ(types[i] == 3 && counts[i] == 1 ? get16(t, e + 8) : get32(t, e + 8), values[i])
            << tags[i];
    }
    EXPECT_EQ(get32(t, 10 + 12 * 11), 0u);
    for (unsigned k = 0; k < 603; ++k) {
        ASSERT_EQ(get32(t, 146 + 4 * k), 5300u + k * 853u) << k;
        ASSERT_EQ(get16(t, 2558 + 2 * k), 853u) << k;
    }
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(get16(t, 3764 + 2 * i), kPal.r(i) * 257u);
        EXPECT_EQ(get16(t, 3764 + 512 + 2 * i), kPal.g(i) * 257u);
        EXPECT_EQ(get16(t, 3764 + 1024 + 2 * i), kPal.b(i) * 257u);
    }

    // A small indexed image: rows top first, no padding.
    std::vector<int> rows;
    ASSERT_EQ(qqptif("a.tif", 601, 1, kW, kH, kPal.c, 9, reader(&rows)), 0);
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 2}));
    std::string a = read_file("a.tif");
    const std::size_t first = 146 + 12 + 6 + 1536;
    ASSERT_EQ(a.size(), first + 15);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) EXPECT_EQ(a[first + 5 * y + x], pixel(x, y));
    }
    EXPECT_EQ(pil("a.tif"), expected_pil("TIFF", "P", kW, kH));
    std::string info = run_command("tiffinfo -D a.tif");
    EXPECT_NE(info.find("Image Width: 5 Image Length: 3"), std::string::npos) << info;
    EXPECT_NE(info.find("Photometric Interpretation: palette color"), std::string::npos) << info;
    EXPECT_EQ(info.find("rror"), std::string::npos) << info;
    EXPECT_EQ(info.find("arning"), std::string::npos) << info;

    // RGB: 10 entries, the triple 8, 8, 8, rows of 15 bytes.
    ASSERT_EQ(qqptif("b.tif", -601, 1, kW, kH, kPal.c, 9, reader(nullptr)), 0);
    std::string b = read_file("b.tif");
    EXPECT_EQ(get16(b, 8), 10u);
    EXPECT_EQ(b.size(), 12u * 10 + 14 + 12 + 6 + 6 + 45);
    EXPECT_EQ(pil("b.tif"), expected_pil("TIFF", "RGB", kW, kH));
    info = run_command("tiffinfo -D b.tif");
    EXPECT_NE(info.find("Bits/Sample: 8"), std::string::npos) << info;
    EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
    EXPECT_EQ(info.find("rror"), std::string::npos) << info;

    // One and two rows: the strip offset and byte counts that fit the entry
    // are stored in it.
    for (int h : {1, 2}) {
        const std::string name = "h" + std::to_string(h) + ".tif";
        ASSERT_EQ(qqptif(name, 601, 1, kW, h, kPal.c, 9, reader(nullptr)), 0);
        EXPECT_EQ(pil(name), expected_pil("TIFF", "P", kW, h)) << h;
        info = run_command("tiffinfo -D " + name);
        EXPECT_EQ(info.find("rror"), std::string::npos) << info;
    }
}

TEST_F(PlotixTest, PngChunks) {
    for (int dev : {604, -604}) {
        const bool rgb = dev < 0;
        const std::string name = rgb ? "b.png" : "a.png";
        ASSERT_EQ(qqppng(name, dev, 1, kW, kH, kPal.c, 9, reader(nullptr)), 0);
        std::string p = read_file(name);
        EXPECT_EQ(p.substr(0, 8), "\x89PNG\r\n\x1a\n");
        // The chunks in order, each with the CRC of its type and data.
        std::vector<std::string> types;
        std::string idat;
        std::size_t at = 8;
        while (at + 12 <= p.size()) {
            const unsigned len = be32(p, at);
            const std::string body = p.substr(at + 4, 4 + len);
            types.push_back(body.substr(0, 4));
            EXPECT_EQ(be32(p, at + 8 + len),
                      crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size()))
                << types.back();
            if (types.back() == "IHDR") {
                std::string ihdr;
                for (unsigned v : {5u, 3u}) {
                    for (int s = 24; s >= 0; s -= 8) ihdr += static_cast<char>((v >> s) & 0xFF);
                }
                ihdr += std::string{8, static_cast<char>(rgb ? 2 : 3), 0, 0, 0};
                EXPECT_EQ(body.substr(4), ihdr);
            }
            if (types.back() == "PLTE") {
                ASSERT_EQ(len, 27u);
                for (int i = 0; i < 9; ++i) {
                    EXPECT_EQ(static_cast<unsigned char>(body[4 + 3 * i]), kPal.r(i));
                    EXPECT_EQ(static_cast<unsigned char>(body[6 + 3 * i]), kPal.b(i));
                }
            }
            if (types.back() == "IDAT") idat = body.substr(4);
            at += 12 + len;
        }
        EXPECT_EQ(at, p.size());
        EXPECT_EQ(types, rgb ? (std::vector<std::string>{"IHDR", "IDAT", "IEND"})
                             : (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
        // IDAT: a zlib stream of rows, each a filter byte 0 and the pixels.
        std::string raw(kH * (1 + kW * (rgb ? 3 : 1)), '\0');
        uLongf size = raw.size();
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(raw.data()), &size,
                             reinterpret_cast<const Bytef*>(idat.data()), idat.size()),
                  Z_OK);
        EXPECT_EQ(size, raw.size());
        std::string want;
        for (int y = 0; y < kH; ++y) {
            want += '\0';
            for (int x = 0; x < kW; ++x) {
                const int i = pixel(x, y);
                if (!rgb) want += static_cast<char>(i);
                if (rgb) want += std::string{char(kPal.r(i)), char(kPal.g(i)), char(kPal.b(i))};
            }
        }
        EXPECT_EQ(raw, want);
        EXPECT_EQ(pil(name), expected_pil("PNG", rgb ? "RGB" : "P", kW, kH));
    }
}

TEST_F(PlotixTest, PpmLayout) {
    std::vector<int> rows;
    ASSERT_EQ(qqpppm("a.ppm", 605, kW, kH, kPal.c, reader(&rows)), 0);
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 2}));
    std::string want = "P6\n5 3\n255\n";
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const int i = pixel(x, y);
            want += std::string{char(kPal.r(i)), char(kPal.g(i)), char(kPal.b(i))};
        }
    }
    EXPECT_EQ(read_file("a.ppm"), want);
    ASSERT_EQ(qqpppm("b.ppm", -605, kW, kH, kPal.c, reader(nullptr)), 0);
    EXPECT_EQ(read_file("b.ppm"), want);
    EXPECT_EQ(pil("a.ppm"), expected_pil("PPM", "RGB", kW, kH));
}

TEST_F(PlotixTest, ImageWriterErrors) {
    const auto rows = reader(nullptr);
    // A file that cannot be created: -1, nothing written.
    EXPECT_EQ(qqpbmp("no/such/a.bmp", 606, 1, kW, kH, kPal.c, 9, rows), -1);
    EXPECT_EQ(qqptif("no/such/a.tif", 601, 1, kW, kH, kPal.c, 9, rows), -1);
    EXPECT_EQ(qqppng("no/such/a.png", 604, 1, kW, kH, kPal.c, 9, rows), -1);
    EXPECT_EQ(qqpppm("no/such/a.ppm", 605, kW, kH, kPal.c, rows), -1);
    EXPECT_TRUE(fs::is_empty(dir));

    // No memory for a buffer: -2; the incomplete file is given up.
    for (const char* what : {"row", "colour map", "png image", "png output"}) {
        d::set_alloc_failure([what](std::string_view w, std::size_t) { return w == what; });
        const std::string w = what;
        if (w == "row") {
            EXPECT_EQ(qqpbmp("m.bmp", 606, 1, kW, kH, kPal.c, 9, rows), -2);
            EXPECT_EQ(qqpppm("m.ppm", 605, kW, kH, kPal.c, rows), -2);
        }
        if (w == "row" || w == "colour map") {
            EXPECT_EQ(qqptif("m.tif", 601, 1, kW, kH, kPal.c, 9, rows), -2) << w;
        }
        if (w.starts_with("png")) {
            EXPECT_EQ(qqppng("m.png", 604, 1, kW, kH, kPal.c, 9, rows), -2) << w;
        }
    }
    d::set_alloc_failure({});
    // Sizes without an image.
    EXPECT_EQ(qqpbmp("z.bmp", 606, 1, 0, kH, kPal.c, 9, rows), -2);
    EXPECT_EQ(qqppng("z.png", 604, 1, kW, -1, kPal.c, 9, rows), -2);
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(PlotixTest, ByteSwapAndCrc) {
    std::uint32_t w[2] = {0x11223344u, 0xA0B0C0D0u};
    d::qqpswp(w, 2);
    EXPECT_EQ(w[0], 0x44332211u);
    EXPECT_EQ(w[1], 0xD0C0B0A0u);
    std::uint16_t s[2] = {0x1122, 0xA0B0};
    d::qqpswp2(s, 2);
    EXPECT_EQ(s[0], 0x2211);
    EXPECT_EQ(s[1], 0xB0A0);
    EXPECT_EQ(d::qqpcrc(reinterpret_cast<const unsigned char*>("IEND"), 4), 0xAE426082u);
    std::string data;
    for (int i = 0; i < 1000; ++i) data += static_cast<char>((i * 7919) & 0xFF);
    EXPECT_EQ(d::qqpcrc(reinterpret_cast<const unsigned char*>(data.data()), data.size()),
              crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    EXPECT_EQ(d::host_byte_order(), 1); // the test machines are little-endian
}
