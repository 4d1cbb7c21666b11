// The raster image driver (devices 601-700) and the image file output at
// disfin.
#include "drivers/raster.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "core/format.h"
#include "core/messages.h"
#include "core/state.h"
#include "drivers/image_writers.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

// Raster state: size, pixel mode, buffer, current colour.
struct Raster {
    int nwwind = 0, nhwind = 0; // image width and height in pixels
    int irgb_v = 0;             // 0 colour indices, 1 R, G, B bytes
    int irev = 0;               // background option
    int bpp = 1;                // bytes per pixel
    int nbytes_v = 0;           // bytes per row, a multiple of 4
    std::unique_ptr<unsigned char[]> cvirt;
    int nclr_v = 0; // current colour index and its R, G, B
    unsigned char ir_v = 0, ig_v = 0, ib_v = 0;
    int nxclp = 0, nyclp = 0, nuclp = 0, nvclp = 0; // clip window (whole image)
};

Raster r;

unsigned char* pixel_at(int x, int y) {
    return r.cvirt.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(r.nbytes_v) +
           static_cast<std::size_t>(x) * static_cast<std::size_t>(r.bpp);
}

bool inside(int x, int y) {
    return x >= 0 && y >= 0 && x < r.nwwind && y < r.nhwind;
}

// Sets one pixel in the current colour; pixels off the image are dropped.
inline void set_pixel(int x, int y) {
    if (!inside(x, y)) return;
    unsigned char* p = pixel_at(x, y);
    if (r.irgb_v == 0) {
        *p = static_cast<unsigned char>(r.nclr_v);
    } else {
        p[0] = r.ir_v;
        p[1] = r.ig_v;
        p[2] = r.ib_v;
    }
}

// Lines whose ends lie this far beyond the image are first cut to a box
// around it, so that a wild coordinate cannot make a line of 2^31 steps.
constexpr int kMargin = 1 << 16;

bool near_image(int x, int y) {
    return x >= -kMargin && y >= -kMargin && x <= r.nwwind + kMargin && y <= r.nhwind + kMargin;
}

// Cuts the segment to the box around the image (parametric clipping);
// false when nothing of it lies in the box.
bool cut_to_box(int& x1, int& y1, int& x2, int& y2) {
    const double lo[2] = {-kMargin, -kMargin};
    const double hi[2] = {static_cast<double>(r.nwwind) + kMargin,
                          static_cast<double>(r.nhwind) + kMargin};
    const double p0[2] = {static_cast<double>(x1), static_cast<double>(y1)};
    const double d[2] = {static_cast<double>(x2) - x1, static_cast<double>(y2) - y1};
    double t0 = 0.0, t1 = 1.0;
    for (int k = 0; k < 2; ++k) {
        if (d[k] == 0.0) {
            if (p0[k] < lo[k] || p0[k] > hi[k]) return false;
            continue;
        }
        double ta = (lo[k] - p0[k]) / d[k], tb = (hi[k] - p0[k]) / d[k];
        if (ta > tb) std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 > t1) return false;
    }
    x1 = rnd(p0[0] + t0 * d[0]);
    y1 = rnd(p0[1] + t0 * d[1]);
    x2 = rnd(p0[0] + t1 * d[0]);
    y2 = rnd(p0[1] + t1 * d[1]);
    return true;
}

} // namespace

PaletteTables& vlt() {
    static PaletteTables t;
    return t;
}

int qqvini(int pagew, int pageh, int& w, int& h, int sized, int bg, int rgb) {
    qqvfin();
    if (sized == 0) {
        w = pagew > pageh ? 853 : 603;
        h = pagew > pageh ? 603 : 853;
    }
    const int bpp = rgb != 0 ? 3 : 1;
    if (w < 1 || h < 1) return 1;
    const std::size_t row = (static_cast<std::size_t>(w) * bpp + 3) / 4 * 4;
    if (row > kRasterMaxBytes / static_cast<std::size_t>(h)) return 1;
    const std::size_t n = row * static_cast<std::size_t>(h);
    if (alloc_refused("raster", n)) return 1;
    std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[n]);
    if (!buf) return 1;
    r = Raster{};
    r.irgb_v = rgb != 0 ? 1 : 0;
    r.irev = bg;
    r.bpp = bpp;
    r.nwwind = w;
    r.nhwind = h;
    r.nbytes_v = static_cast<int>(row);
    r.cvirt = std::move(buf);
    r.nuclp = w - 1;
    r.nvclp = h - 1;
    qqvers();
    return 0;
}

bool raster_ready() {
    return r.cvirt != nullptr;
}
int raster_width() {
    return r.nwwind;
}
int raster_height() {
    return r.nhwind;
}
int raster_row_bytes() {
    return r.nbytes_v;
}

void qqvclr(int index) {
    const int i = ((index % 256) + 256) % 256;
    r.nclr_v = i;
    r.ir_v = vlt().r[i];
    r.ig_v = vlt().g[i];
    r.ib_v = vlt().b[i];
}

void qqvvlt(int, const std::uint32_t* table) {
    if (table == nullptr) return;
    PaletteTables& t = vlt();
    for (int i = 0; i < 256; ++i) {
        t.r[i] = static_cast<unsigned char>((table[i] >> 16) & 0xFF);
        t.g[i] = static_cast<unsigned char>((table[i] >> 8) & 0xFF);
        t.b[i] = static_cast<unsigned char>(table[i] & 0xFF);
    }
}

void qqvlin(int x1, int y1, int x2, int y2) {
    if (!raster_ready()) return;
    if (!near_image(x1, y1) || !near_image(x2, y2)) {
        if (!cut_to_box(x1, y1, x2, y2)) return;
    }
    if (y1 == y2) {
        if (y1 < 0 || y1 >= r.nhwind) return;
        const int a = std::max(std::min(x1, x2), 0), b = std::min(std::max(x1, x2), r.nwwind - 1);
        for (int x = a; x <= b; ++x) set_pixel(x, y1);
        return;
    }
    const int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
    const int sx = x2 >= x1 ? 1 : -1, sy = y2 >= y1 ? 1 : -1;
    int x = x1, y = y1;
    set_pixel(x, y);
    if (dx > dy) {
        int e = dx / 2;
        for (int i = 0; i < dx; ++i) {
            x += sx;
            e += dy;
            if (e > dx) {
                e -= dx;
                y += sy;
            }
            set_pixel(x, y);
        }
    } else {
        int e = dy / 2;
        for (int i = 0; i < dy; ++i) {
            y += sy;
            e += dx;
            if (e > dy) {
                e -= dy;
                x += sx;
            }
            set_pixel(x, y);
        }
    }
}

void qqvfll(int x1, int y1, int x2, int y2, int clr) {
    if (!raster_ready()) return;
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, r.nwwind - 1);
    y2 = std::min(y2, r.nhwind - 1);
    if (x1 > x2 || y1 > y2) return;
    const int i = ((clr % 256) + 256) % 256;
    const std::size_t n = static_cast<std::size_t>(x2 - x1 + 1);
    for (int y = y1; y <= y2; ++y) {
        unsigned char* p = pixel_at(x1, y);
        if (r.irgb_v == 0) {
            std::fill_n(p, n, static_cast<unsigned char>(i));
        } else {
            for (std::size_t k = 0; k < n; ++k) {
                *p++ = vlt().r[i];
                *p++ = vlt().g[i];
                *p++ = vlt().b[i];
            }
        }
    }
}

void qqvers() {
    if (!raster_ready()) return;
    const unsigned char v = (r.irgb_v != 0 && r.irev == 2) ? 255 : 0;
    std::fill_n(r.cvirt.get(),
                static_cast<std::size_t>(r.nbytes_v) * static_cast<std::size_t>(r.nhwind), v);
}

int qqgind(int red, int green, int blue) {
    const PaletteTables& t = vlt();
    int best = 0, dist = 1000;
    for (int i = 0; i < 256; ++i) {
        const int d = std::abs(red - t.r[i]) + std::abs(green - t.g[i]) + std::abs(blue - t.b[i]);
        if (d < dist) {
            dist = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

void qqvrdr(unsigned char* buffer, int x, int y, int n, int rows) {
    if (buffer == nullptr || n == INT_MIN) return;
    const int count = std::abs(n);
    const PaletteTables& t = vlt();
    for (int row = 0; row < rows; ++row) {
        const int yy = y + row;
        for (int k = 0; k < count; ++k) {
            const int xx = x + k;
            const bool in = raster_ready() && inside(xx, yy);
            const unsigned char* p = in ? pixel_at(xx, yy) : nullptr;
            if (n >= 0) {
                if (!in) {
                    *buffer++ = 0;
                } else if (r.irgb_v == 0) {
                    *buffer++ = *p;
                } else {
                    *buffer++ = static_cast<unsigned char>(qqgind(p[0], p[1], p[2]));
                }
            } else if (!in) {
                *buffer++ = 0;
                *buffer++ = 0;
                *buffer++ = 0;
            } else if (r.irgb_v == 0) {
                *buffer++ = t.r[*p];
                *buffer++ = t.g[*p];
                *buffer++ = t.b[*p];
            } else {
                *buffer++ = p[0];
                *buffer++ = p[1];
                *buffer++ = p[2];
            }
        }
    }
}

void qqvrow(const unsigned char* buffer, int x, int y, int n) {
    if (buffer == nullptr || !raster_ready() || n == INT_MIN) return;
    const int count = std::abs(n);
    const PaletteTables& t = vlt();
    for (int k = 0; k < count; ++k, buffer += n >= 0 ? 1 : 3) {
        if (!inside(x + k, y)) continue;
        unsigned char* p = pixel_at(x + k, y);
        if (n >= 0) {
            if (r.irgb_v == 0) {
                *p = buffer[0];
            } else {
                p[0] = t.r[buffer[0]];
                p[1] = t.g[buffer[0]];
                p[2] = t.b[buffer[0]];
            }
        } else if (r.irgb_v == 0) {
            *p = static_cast<unsigned char>(qqgind(buffer[0], buffer[1], buffer[2]));
        } else {
            p[0] = buffer[0];
            p[1] = buffer[1];
            p[2] = buffer[2];
        }
    }
}

int qqvfil(const std::string& file, int) {
    if (!raster_ready()) return 1;
    std::FILE* f = std::fopen(file.c_str(), "wb");
    if (f == nullptr) return 1;
    std::string head = "!Bitmap PLOTIX VIRT ";
    const int fields[9] = {r.nwwind, r.nhwind, 8, r.nbytes_v, 8 * r.bpp, 32, 0, 1, 0};
    for (int i = 0; i < 9; ++i) head += (i > 0 ? " " : "") + fmt_int(fields[i], 5);
    if (head.size() < 80) head.resize(80, ' ');
    const std::size_t n = static_cast<std::size_t>(r.nbytes_v) * static_cast<std::size_t>(r.nhwind);
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
    ok = ok && std::fwrite(r.cvirt.get(), 1, n, f) == n;
    if (std::fclose(f) != 0) ok = false;
    return ok ? 0 : 1;
}

void qqvfin() {
    r = Raster{};
}

namespace {

// The highest colour index in an indexed image.
int highest_index() {
    int top = 0;
    for (int y = 0; y < r.nhwind && top < 255; ++y) {
        const unsigned char* p = pixel_at(0, y);
        top = std::max(top, static_cast<int>(*std::max_element(p, p + r.nwwind)));
    }
    return top;
}

} // namespace

bool qqrfil(const std::string& name, int writer) {
    if (!raster_ready()) return false;
    int entries = g.colour.type == 0 ? 9 : (g.colour.type == 7 ? 16 : 256);
    // The short palettes of the small tables must still hold every index in
    // the image (drawn with a higher index, or before the table changed).
    if (entries < 256 && r.irgb_v == 0) entries = std::max(entries, highest_index() + 1);
    const RowReader rows = [](unsigned char* b, int x, int y, int n, int k) {
        qqvrdr(b, x, y, n, k);
    };
    const int device = (600 + writer) * (r.irgb_v != 0 ? -1 : 1);
    const int order = host_byte_order();
    const int w = r.nwwind, h = r.nhwind;
    std::error_code ec;
    const bool existed = std::filesystem::exists(name, ec);
    int status = 0;
    switch (writer) {
    case 1: status = qqptif(name, device, order, w, h, g.colour.table, entries, rows); break;
    case 2: status = qqvfil(name, 0) == 0 ? 0 : -1; break;
    case 4: status = qqppng(name, device, order, w, h, g.colour.table, entries, rows); break;
    case 5: status = qqpppm(name, device, w, h, g.colour.table, rows); break;
    case 6: status = qqpbmp(name, device, order, w, h, g.colour.table, entries, rows); break;
    default: return false; // no writer: the image stays in memory
    }
    if (status == 0) return true;
    // An incomplete file is not left behind as if it were the picture.
    if (!existed) std::filesystem::remove(name, ec);
    if (status == -1) {
        warnc1(36, name);
    } else if (status == -2) {
        warnin(53);
    } else {
        qqserr("ZLIB error");
        warnin(101);
    }
    return false;
}

namespace {

class RasterDriver final : public Driver {
  public:
    ~RasterDriver() override { qqvfin(); }

    void begin() override {
        float pw, ph;
        oriented_page(pw, ph);
        int w = g.dev.imgw, h = g.dev.imgh;
        if (qqvini(static_cast<int>(pw), static_cast<int>(ph), w, h, g.dev.winopt != 0,
                   g.dev.bgmode, 0) != 0) {
            // No memory for the image: the plot goes on without output.
            warnin(53);
        } else {
            g.dev.imgw = w;
            g.dev.imgh = h;
        }
        g.dev.scale = pixel_scale(g.dev.imgw, g.dev.imgh);
    }

    void vertex(double x, double y, int op) override {
        const int ix = rnd(x), iy = rnd(y);
        if (op == kOpDraw) qqvlin(cx_, cy_, ix, iy);
        cx_ = ix;
        cy_ = iy;
    }

    void colour(int index, int, int, int) override { qqvclr(index); }

    void box(double x1, double y1, double x2, double y2, int index, int, int, int) override {
        qqvfll(rnd(x1), rnd(y1), rnd(x2), rnd(y2), ((index % 256) + 256) % 256);
    }

    void palette(int type, const std::uint32_t* table) override { qqvvlt(type, table); }

    void erase() override { qqvers(); }

  private:
    int cx_ = 0, cy_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_raster_driver() {
    return std::make_unique<RasterDriver>();
}

} // namespace plotix::detail
