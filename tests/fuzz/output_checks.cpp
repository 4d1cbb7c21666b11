#include "output_checks.hpp"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace fuzz {

namespace {

using Bytes = std::string_view;

bool starts(Bytes b, Bytes prefix) {
    return b.substr(0, prefix.size()) == prefix;
}

bool ends(Bytes b, Bytes suffix) {
    return b.size() >= suffix.size() && b.substr(b.size() - suffix.size()) == suffix;
}

std::uint32_t le16(Bytes b, std::size_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

std::uint32_t le32(Bytes b, std::size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

std::uint32_t be32(Bytes b, std::size_t at) {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = v << 8 | static_cast<unsigned char>(b[at + k]);
    return v;
}

// Text of printable ASCII lines, each ending in a newline, at most `limit`
// characters long (0: no limit).
std::string plain_lines(Bytes b, std::size_t limit) {
    if (!ends(b, "\n")) return "does not end with a line end";
    std::size_t column = 0;
    for (char c : b) {
        if (c == '\n') {
            column = 0;
            continue;
        }
        if (c < 32 || c > 126) return "holds a byte that is not printable ASCII";
        if (++column > limit && limit != 0) return "has a line longer than its limit";
    }
    return "";
}

// The decimal integer at `at` (after blanks); false when there is none.
bool integer_at(Bytes b, std::size_t& at, long long& value) {
    while (at < b.size() && b[at] == ' ') ++at;
    const std::size_t first = at;
    if (at < b.size() && b[at] == '-') ++at;
    value = 0;
    std::size_t digits = 0;
    while (at < b.size() && b[at] >= '0' && b[at] <= '9' && digits < 18) {
        value = value * 10 + (b[at++] - '0');
        ++digits;
    }
    if (digits == 0) return false;
    if (b[first] == '-') value = -value;
    return true;
}

// Inflates a zlib stream that must end exactly at the end of `in`.
bool inflate_all(Bytes in, std::string& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    int status = Z_OK;
    char buf[16384];
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buf, sizeof buf - z.avail_out);
        if (status == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    const bool ok = status == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

// ---- PostScript and EPS ----------------------------------------------------

std::string check_postscript(Bytes b) {
    if (std::string e = plain_lines(b, 80); !e.empty()) return "PostScript " + e;
    const std::size_t box = b.find("\n%%BoundingBox:");
    if (box == Bytes::npos) return "PostScript without a bounding box";
    std::size_t at = box + 15;
    long long v[4];
    for (long long& n : v) {
        if (!integer_at(b, at, n)) return "PostScript bounding box without four numbers";
    }
    if (b[at] != '\n' || v[2] < v[0] || v[3] < v[1]) return "PostScript bounding box is wrong";
    if (!ends(b, "showpage \n") && !ends(b, "showpage\n")) {
        return "PostScript does not end with its page end";
    }
    if (b.find("showpage") != b.rfind("showpage")) return "PostScript with more than one page";
    return "";
}

// ---- PDF ---------------------------------------------------------------------

// The body of object `number` at `offset`: from after "obj" to "endobj";
// the stream data, when there is one, is checked against its length.
std::string check_pdf_object(Bytes b, const std::vector<long long>& offsets, int number) {
    const long long offset = offsets[number];
    const std::string head = std::to_string(number) + " 0 obj\n";
    if (offset < 0 || static_cast<std::size_t>(offset) >= b.size() ||
        !starts(b.substr(offset), head)) {
        return "PDF cross-reference entry " + std::to_string(number) + " misses its object";
    }
    const std::size_t body = offset + head.size();
    const std::size_t end = b.find("endobj", body);
    const std::size_t stream = b.find("stream\n", body);
    if (end == Bytes::npos) return "PDF object without endobj";
    if (stream == Bytes::npos || stream > end) return "";
    const Bytes dict = b.substr(body, stream - body);
    const std::size_t key = dict.find("/Length ");
    if (key == Bytes::npos) return "PDF stream without a length";
    std::size_t at = key + 8;
    long long length = 0;
    if (!integer_at(dict, at, length)) return "PDF stream length is not a number";
    if (dict.substr(at, 4) == " 0 R") { // the length is an object of its own
        const long long ref = length;
        if (ref <= 0 || ref >= static_cast<long long>(offsets.size())) {
            return "PDF stream length refers to a missing object";
        }
        std::size_t vat = offsets[ref] + std::to_string(ref).size() + 7;
        if (offsets[ref] < 0 || vat >= b.size() || !integer_at(b, vat, length)) {
            return "PDF stream length object holds no number";
        }
    }
    const std::size_t data = stream + 7;
    if (length < 0 || data + length > b.size() || !starts(b.substr(data + length), "endstream")) {
        return "PDF stream length does not match its data";
    }
    if (dict.find("/FlateDecode") != Bytes::npos) {
        std::string out;
        if (!inflate_all(b.substr(data, length), out)) return "PDF stream does not inflate";
        if (std::string e = plain_lines(out, 0); !e.empty() && !out.empty()) {
            return "PDF content " + e;
        }
    }
    return "";
}

std::string check_pdf(Bytes b) {
    if (!ends(b, "%%EOF\n")) return "PDF does not end with %%EOF";
    const std::size_t sx = b.rfind("startxref\n");
    if (sx == Bytes::npos) return "PDF without startxref";
    std::size_t at = sx + 10;
    long long xref = 0;
    if (!integer_at(b, at, xref) || b.substr(at) != "\n%%EOF\n") return "PDF startxref is wrong";
    if (xref < 0 || static_cast<std::size_t>(xref) >= b.size() ||
        !starts(b.substr(xref), "xref\n0 ")) {
        return "PDF startxref does not point at the cross-reference table";
    }
    at = xref + 7;
    long long size = 0;
    if (!integer_at(b, at, size) || b[at] != '\n' || size < 1 || size > 100000) {
        return "PDF cross-reference table without its size";
    }
    ++at;
    std::vector<long long> offsets(size, -1);
    for (long long i = 0; i < size; ++i, at += 20) {
        if (at + 20 > b.size()) return "PDF cross-reference table is cut off";
        const Bytes entry = b.substr(at, 20);
        if (entry.substr(10, 7) != " 00000 " && entry.substr(10, 7) != " 65535 ") {
            return "PDF cross-reference entry is malformed";
        }
        if (entry[17] == 'n')
            offsets[i] = std::strtoll(std::string(entry.substr(0, 10)).c_str(), nullptr, 10);
    }
    if (!starts(b.substr(at), "trailer\n<< /Size " + std::to_string(size) + " ")) {
        return "PDF trailer does not give the table's size";
    }
    int pages = 0;
    for (int i = 1; i < size; ++i) {
        if (offsets[i] < 0) return "PDF object " + std::to_string(i) + " is missing";
        if (std::string e = check_pdf_object(b, offsets, i); !e.empty()) return e;
        const std::size_t end = b.find("endobj", offsets[i]);
        if (b.substr(offsets[i], end - offsets[i]).find("/Type /Page\n") != Bytes::npos) ++pages;
    }
    if (b.find("/Count " + std::to_string(pages) + "\n") == Bytes::npos) {
        return "PDF page count does not match its pages";
    }
    return "";
}

// ---- BMP -----------------------------------------------------------------------

std::string check_bmp(Bytes b) {
    if (b.size() < 54) return "BMP shorter than its headers";
    if (le32(b, 2) != b.size()) return "BMP file size field does not match the file";
    const std::uint32_t offset = le32(b, 10);
    const std::int32_t w = static_cast<std::int32_t>(le32(b, 18));
    const std::int32_t h = static_cast<std::int32_t>(le32(b, 22));
    const std::uint32_t bpp = le16(b, 28);
    if (le32(b, 14) != 40 || le16(b, 26) != 1 || le32(b, 30) != 0) return "BMP header is wrong";
    if (w <= 0 || h == 0 || (bpp != 8 && bpp != 24)) return "BMP size or depth is wrong";
    const std::uint32_t colours = bpp == 8 ? (le32(b, 46) == 0 ? 256 : le32(b, 46)) : 0;
    if (colours > 256 || offset != 54 + 4 * colours) return "BMP pixel offset is wrong";
    const std::uint64_t row = (static_cast<std::uint64_t>(w) * bpp + 31) / 32 * 4;
    const std::uint64_t height = h < 0 ? -static_cast<std::int64_t>(h) : h;
    if (offset + row * height != b.size()) return "BMP pixel data size does not match its header";
    if (le32(b, 34) != 0 && le32(b, 34) != row * height) return "BMP image size field is wrong";
    if (bpp == 8) {
        for (std::size_t y = 0; y < height; ++y) {
            for (std::size_t x = 0; x < static_cast<std::size_t>(w); ++x) {
                const unsigned char v = b[offset + y * row + x];
                if (v >= colours) return "BMP pixel outside its colour table";
            }
        }
    }
    return "";
}

// ---- TIFF ----------------------------------------------------------------------

std::string check_tiff(Bytes b) {
    const bool little = starts(b, Bytes("II*\0", 4));
    auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? le16(b, at)
                      : (static_cast<unsigned char>(b[at]) << 8 |
                         static_cast<unsigned char>(b[at + 1]));
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t { return little ? le32(b, at) : be32(b, at); };
    if (b.size() < 8) return "TIFF shorter than its header";
    const std::uint32_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > b.size()) return "TIFF directory outside the file";
    const std::uint32_t n = u16(ifd);
    if (ifd + 2 + 12ull * n + 4 > b.size()) return "TIFF directory is cut off";
    if (u32(ifd + 2 + 12 * n) != 0) return "TIFF with a second directory";
    struct Field {
        std::uint32_t type = 0, count = 0, at = 0; // `at`: where the values are
        bool present = false;
    };
    Field f[400];
    std::uint32_t last = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint32_t e = ifd + 2 + 12 * k;
        const std::uint32_t tag = u16(e);
        if (tag <= last) return "TIFF tags are not in ascending order";
        last = tag;
        if (tag >= 400) continue;
        Field& x = f[tag];
        x.type = u16(e + 2);
        x.count = u32(e + 4);
        const std::uint64_t unit = x.type == 3 ? 2 : x.type == 4 ? 4 : 1;
        x.at = unit * x.count <= 4 ? e + 8 : u32(e + 8);
        if (x.at + unit * x.count > b.size()) return "TIFF field values outside the file";
        x.present = true;
    }
    auto value = [&](int tag, std::uint32_t i) -> std::uint32_t {
        const Field& x = f[tag];
        return x.type == 3 ? u16(x.at + 2 * i) : u32(x.at + 4 * i);
    };
    for (int tag : {256, 257, 258, 259, 262, 273, 277, 279}) {
        if (!f[tag].present) return "TIFF misses field " + std::to_string(tag);
    }
    const std::uint32_t w = value(256, 0), h = value(257, 0), spp = value(277, 0);
    if (w == 0 || h == 0 || (spp != 1 && spp != 3)) return "TIFF size or samples are wrong";
    if (value(259, 0) != 1) return "TIFF compression is not none";
    for (std::uint32_t i = 0; i < f[258].count; ++i) {
        if (value(258, i) != 8) return "TIFF samples are not 8 bits";
    }
    const std::uint32_t photometric = value(262, 0);
    if (photometric == 3) {
        if (spp != 1 || !f[320].present || f[320].count != 768) return "TIFF colour map is wrong";
    } else if (photometric != 2 || spp != 3) {
        return "TIFF photometric interpretation is wrong";
    }
    const std::uint32_t rows = f[278].present ? value(278, 0) : h;
    if (rows == 0) return "TIFF rows per strip is zero";
    const std::uint32_t strips = (h + rows - 1) / rows;
    if (f[273].count != strips || f[279].count != strips) return "TIFF strip count is wrong";
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < strips; ++i) {
        const std::uint64_t at = value(273, i), count = value(279, i);
        if (at + count > b.size()) return "TIFF strip outside the file";
        total += count;
    }
    if (total != static_cast<std::uint64_t>(w) * h * spp)
        return "TIFF strips do not hold the image";
    return "";
}

// ---- PNG -----------------------------------------------------------------------

std::string check_png(Bytes b) {
    std::size_t at = 8;
    std::string idat;
    std::uint32_t w = 0, h = 0, palette = 0;
    int type = -1;
    bool end = false, in_idat = false, idat_done = false;
    while (!end) {
        if (at + 12 > b.size()) return "PNG chunk is cut off";
        const std::uint32_t len = be32(b, at);
        if (len > b.size() - at - 12) return "PNG chunk is longer than the file";
        const Bytes name = b.substr(at + 4, 4);
        const Bytes data = b.substr(at + 8, len);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(b.data() + at + 4), len + 4);
        if (crc != be32(b, at + 8 + len)) return "PNG chunk CRC is wrong";
        if (at == 8 && name != "IHDR") return "PNG does not start with IHDR";
        if (name == "IHDR") {
            if (len != 13 || at != 8) return "PNG header chunk is wrong";
            w = be32(data, 0);
            h = be32(data, 4);
            type = data[9];
            if (w == 0 || h == 0 || data[8] != 8 || (type != 2 && type != 3) || data[10] != 0 ||
                data[11] != 0 || data[12] != 0) {
                return "PNG header values are wrong";
            }
        } else if (name == "PLTE") {
            if (len % 3 != 0 || len == 0 || len > 768 || in_idat) return "PNG palette is wrong";
            palette = len / 3;
        } else if (name == "IDAT") {
            if (idat_done) return "PNG image data chunks are not consecutive";
            in_idat = true;
            idat.append(data);
        } else if (name == "IEND") {
            if (len != 0) return "PNG end chunk is not empty";
            end = true;
        } else if (!(name[0] >= 'a' && name[0] <= 'z')) {
            return "PNG has an unknown critical chunk";
        }
        if (in_idat && name != "IDAT") idat_done = true;
        at += 12 + len;
    }
    if (at != b.size()) return "PNG has bytes after its end chunk";
    if (type == 3 && palette == 0) return "PNG palette image without a palette";
    std::string pixels;
    if (!inflate_all(idat, pixels)) return "PNG image data does not inflate";
    const std::uint64_t row = static_cast<std::uint64_t>(w) * (type == 2 ? 3 : 1);
    if (pixels.size() != (row + 1) * h) return "PNG image data size does not match its header";
    // Undo the row filters and look at every pixel of a palette image.
    const std::size_t bpp = type == 2 ? 3 : 1;
    std::vector<unsigned char> prev(row, 0), cur(row);
    for (std::uint64_t y = 0; y < h; ++y) {
        const unsigned char* in =
            reinterpret_cast<const unsigned char*>(pixels.data()) + y * (row + 1);
        const unsigned char filter = in[0];
        if (filter > 4) return "PNG row filter is wrong";
        for (std::size_t x = 0; x < row; ++x) {
            const int a = x >= bpp ? cur[x - bpp] : 0, up = prev[x],
                      c = x >= bpp ? prev[x - bpp] : 0;
            int pred = 0;
            switch (filter) {
            case 1: pred = a; break;
            case 2: pred = up; break;
            case 3: pred = (a + up) / 2; break;
            case 4: {
                const int p = a + up - c, pa = std::abs(p - a), pb = std::abs(p - up),
                          pc = std::abs(p - c);
                pred = pa <= pb && pa <= pc ? a : pb <= pc ? up : c;
                break;
            }
            default: break;
            }
            cur[x] = static_cast<unsigned char>(in[1 + x] + pred);
            if (type == 3 && cur[x] >= palette) return "PNG pixel outside its palette";
        }
        prev.swap(cur);
    }
    return "";
}

// ---- PPM and the raw image ------------------------------------------------------

std::string check_ppm(Bytes b) {
    std::size_t at = 2;
    long long w = 0, h = 0, max = 0;
    auto skip = [&] {
        while (at < b.size() && (b[at] == ' ' || b[at] == '\n')) ++at;
    };
    skip();
    if (!integer_at(b, at, w)) return "PPM without a width";
    skip();
    if (!integer_at(b, at, h)) return "PPM without a height";
    skip();
    if (!integer_at(b, at, max) || max != 255 || at >= b.size() || b[at] != '\n') {
        return "PPM maximum value is wrong";
    }
    if (w <= 0 || h <= 0) return "PPM size is wrong";
    if (b.size() - at - 1 != static_cast<std::uint64_t>(w) * h * 3) {
        return "PPM pixel data size does not match its header";
    }
    return "";
}

std::string check_raw_image(Bytes b) {
    if (b.size() < 80) return "raw image shorter than its header";
    std::size_t at = 20;
    long long field[9];
    for (long long& v : field) {
        if (!integer_at(b, at, v)) return "raw image header without its numbers";
    }
    const long long w = field[0], h = field[1], row = field[3], bits = field[4];
    if (w <= 0 || h <= 0 || (bits != 8 && bits != 24) || row < w * bits / 8) {
        return "raw image header values are wrong";
    }
    if (b.size() != 80 + static_cast<std::uint64_t>(row) * h) {
        return "raw image data size does not match its header";
    }
    return "";
}

// ---- the library's metafile, plotter and printer files, applet, SVG ---------------

std::string check_metafile(Bytes b) {
    if (std::string e = plain_lines(b, 80); !e.empty()) return "metafile " + e;
    const std::size_t first = b.find('\n');
    if (first != 20) return "metafile header line is wrong";
    for (std::size_t start = first + 1; start < b.size();) {
        const std::size_t nl = b.find('\n', start);
        if ((nl - start) % 10 != 0 || nl == start) return "metafile line is not made of records";
        start = nl + 1;
    }
    if (!ends(b, " 9.0000000\n")) return "metafile does not end with its end record";
    return "";
}

bool hpgl(Bytes b) {
    return starts(b, " SP1;\n");
}

bool metafile(Bytes b) {
    if (b.size() < 21 || b[20] != '\n') return false;
    for (std::size_t k = 0; k < 20; ++k) {
        if (std::string_view(" 0123456789.-").find(b[k]) == Bytes::npos) return false;
    }
    return true;
}

} // namespace

std::string check_output(const std::string& file) {
    const Bytes b = file;
    if (starts(b, "%!PS-Adobe-")) return check_postscript(b);
    if (starts(b, "%PDF-1.")) return check_pdf(b);
    if (starts(b, "BM")) return check_bmp(b);
    if (starts(b, Bytes("II*\0", 4)) || starts(b, Bytes("MM\0*", 4))) return check_tiff(b);
    if (starts(b, "\x89PNG\r\n\x1A\n")) return check_png(b);
    if (starts(b, "P6")) return check_ppm(b);
    if (starts(b, "!Bitmap PLOTIX VIRT ")) return check_raw_image(b);
    if (starts(b, "import java.applet.Applet;\n")) {
        if (std::string e = plain_lines(b, 0); !e.empty()) return "applet " + e;
        return ends(b, "\n  }\n}\n") ? "" : "applet source does not end with its closing braces";
    }
    if (starts(b, "<?xml") || starts(b, "<svg")) {
        return ends(b, "</svg>\n") || ends(b, "</svg>") ? "" : "SVG does not end with </svg>";
    }
    if (hpgl(b)) {
        if (std::string e = plain_lines(b, 80); !e.empty()) return "HPGL " + e;
        return ends(b, "PU0,0;\n") ? "" : "HPGL does not end with the pen at the origin";
    }
    if (metafile(b)) return check_metafile(b);
    if (ends(b, "RES;EXIT;\n")) {
        if (std::string e = plain_lines(b, 80); !e.empty()) return "printer file " + e;
        return "";
    }
    return "not a complete file of any output format";
}

} // namespace fuzz
