// The raster image buffer and the raster image driver (the image formats),
// whose image is written to its file at disfin.
#include "drivers/raster.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/format.h"
#include "core/messages.h"
#include "core/state.h"
#include "drivers/image_writers.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

// Lines whose ends lie this far beyond the image are first cut to a box
// around it, so that a wild coordinate cannot make a line of 2^31 steps.
constexpr int kMargin = 1 << 16;

} // namespace

void PaletteTables::load(const std::uint32_t* table) {
    for (int i = 0; i < 256; ++i) {
        r[i] = static_cast<unsigned char>((table[i] >> 16) & 0xFF);
        g[i] = static_cast<unsigned char>((table[i] >> 8) & 0xFF);
        b[i] = static_cast<unsigned char>(table[i] & 0xFF);
    }
}

unsigned char* RasterImage::pixel_at(int x, int y) const {
    return cvirt_.get() + static_cast<std::size_t>(y) * static_cast<std::size_t>(nbytes_) +
           static_cast<std::size_t>(x) * static_cast<std::size_t>(bpp_);
}

bool RasterImage::inside(int x, int y) const {
    return x >= 0 && y >= 0 && x < nwwind_ && y < nhwind_;
}

// Sets one pixel in the current colour; pixels off the image are dropped.
void RasterImage::set_pixel(int x, int y) {
    if (!inside(x, y)) return;
    unsigned char* p = pixel_at(x, y);
    if (irgb_ == 0) {
        *p = static_cast<unsigned char>(nclr_);
    } else {
        p[0] = ir_;
        p[1] = ig_;
        p[2] = ib_;
    }
}

// A point of a wide line: a square of the line width around it.
void RasterImage::plot(int x, int y) {
    if (lwidth_ == 1) {
        set_pixel(x, y);
        return;
    }
    const int lo = -(lwidth_ - 1) / 2, hi = lwidth_ / 2;
    for (int dy = lo; dy <= hi; ++dy) {
        for (int dx = lo; dx <= hi; ++dx) set_pixel(x + dx, y + dy);
    }
}

bool RasterImage::near_image(int x, int y) const {
    return x >= -kMargin && y >= -kMargin && x <= nwwind_ + kMargin && y <= nhwind_ + kMargin;
}

// Cuts the segment to the box around the image (parametric clipping);
// false when nothing of it lies in the box.
bool RasterImage::cut_to_box(int& x1, int& y1, int& x2, int& y2) const {
    const double lo[2] = {-kMargin, -kMargin};
    const double hi[2] = {static_cast<double>(nwwind_) + kMargin,
                          static_cast<double>(nhwind_) + kMargin};
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

int RasterImage::qqvini(int pagew, int pageh, int& w, int& h, int sized, int bg, int rgb) {
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
    irgb_ = rgb != 0 ? 1 : 0;
    irev_ = bg;
    bpp_ = bpp;
    nwwind_ = w;
    nhwind_ = h;
    nbytes_ = static_cast<int>(row);
    cvirt_ = std::move(buf);
    qqvers();
    return 0;
}

void RasterImage::qqvclr(int index) {
    const int i = ((index % 256) + 256) % 256;
    nclr_ = i;
    ir_ = vlt_.r[i];
    ig_ = vlt_.g[i];
    ib_ = vlt_.b[i];
}

void RasterImage::qqvvlt(int, const std::uint32_t* table) {
    if (table != nullptr) vlt_.load(table);
}

void RasterImage::qqvlin(int x1, int y1, int x2, int y2) {
    if (!ready()) return;
    if (!near_image(x1, y1) || !near_image(x2, y2)) {
        if (!cut_to_box(x1, y1, x2, y2)) return;
    }
    if (y1 == y2 && lwidth_ == 1) {
        if (y1 < 0 || y1 >= nhwind_) return;
        const int a = std::max(std::min(x1, x2), 0), b = std::min(std::max(x1, x2), nwwind_ - 1);
        for (int x = a; x <= b; ++x) set_pixel(x, y1);
        return;
    }
    const int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
    const int sx = x2 >= x1 ? 1 : -1, sy = y2 >= y1 ? 1 : -1;
    int x = x1, y = y1;
    plot(x, y);
    if (dx > dy) {
        int e = dx / 2;
        for (int i = 0; i < dx; ++i) {
            x += sx;
            e += dy;
            if (e > dx) {
                e -= dx;
                y += sy;
            }
            plot(x, y);
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
            plot(x, y);
        }
    }
}

void RasterImage::qqvfll(int x1, int y1, int x2, int y2, int clr) {
    if (!ready()) return;
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, nwwind_ - 1);
    y2 = std::min(y2, nhwind_ - 1);
    if (x1 > x2 || y1 > y2) return;
    const int i = ((clr % 256) + 256) % 256;
    const std::size_t n = static_cast<std::size_t>(x2 - x1 + 1);
    for (int y = y1; y <= y2; ++y) {
        unsigned char* p = pixel_at(x1, y);
        if (irgb_ == 0) {
            std::fill_n(p, n, static_cast<unsigned char>(i));
        } else {
            for (std::size_t k = 0; k < n; ++k) {
                *p++ = vlt_.r[i];
                *p++ = vlt_.g[i];
                *p++ = vlt_.b[i];
            }
        }
    }
}

void RasterImage::qqvers() {
    if (!ready()) return;
    const unsigned char v = (irgb_ != 0 && irev_ == 2) ? 255 : 0;
    std::fill_n(cvirt_.get(), static_cast<std::size_t>(nbytes_) * static_cast<std::size_t>(nhwind_),
                v);
}

int RasterImage::qqgind(int red, int green, int blue) const {
    int best = 0, dist = 1000;
    for (int i = 0; i < 256; ++i) {
        const int d =
            std::abs(red - vlt_.r[i]) + std::abs(green - vlt_.g[i]) + std::abs(blue - vlt_.b[i]);
        if (d < dist) {
            dist = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

void RasterImage::qqvrdr(unsigned char* buffer, int x, int y, int n, int rows) const {
    if (buffer == nullptr || n == INT_MIN) return;
    const int count = std::abs(n);
    for (int row = 0; row < rows; ++row) {
        const int yy = y + row;
        for (int k = 0; k < count; ++k) {
            const int xx = x + k;
            const bool in = ready() && inside(xx, yy);
            const unsigned char* p = in ? pixel_at(xx, yy) : nullptr;
            if (n >= 0) {
                if (!in) {
                    *buffer++ = 0;
                } else if (irgb_ == 0) {
                    *buffer++ = *p;
                } else {
                    *buffer++ = static_cast<unsigned char>(qqgind(p[0], p[1], p[2]));
                }
            } else if (!in) {
                *buffer++ = 0;
                *buffer++ = 0;
                *buffer++ = 0;
            } else if (irgb_ == 0) {
                *buffer++ = vlt_.r[*p];
                *buffer++ = vlt_.g[*p];
                *buffer++ = vlt_.b[*p];
            } else {
                *buffer++ = p[0];
                *buffer++ = p[1];
                *buffer++ = p[2];
            }
        }
    }
}

void RasterImage::qqvrow(const unsigned char* buffer, int x, int y, int n) {
    if (buffer == nullptr || !ready() || n == INT_MIN) return;
    const int count = std::abs(n);
    for (int k = 0; k < count; ++k, buffer += n >= 0 ? 1 : 3) {
        if (!inside(x + k, y)) continue;
        unsigned char* p = pixel_at(x + k, y);
        if (n >= 0) {
            if (irgb_ == 0) {
                *p = buffer[0];
            } else {
                p[0] = vlt_.r[buffer[0]];
                p[1] = vlt_.g[buffer[0]];
                p[2] = vlt_.b[buffer[0]];
            }
        } else if (irgb_ == 0) {
            *p = static_cast<unsigned char>(qqgind(buffer[0], buffer[1], buffer[2]));
        } else {
            p[0] = buffer[0];
            p[1] = buffer[1];
            p[2] = buffer[2];
        }
    }
}

int RasterImage::qqvfil(OutputFile& file, int) const {
    if (!ready()) return 1;
    std::string head = "!Bitmap PLOTIX VIRT ";
    const int fields[9] = {nwwind_, nhwind_, 8, nbytes_, 8 * bpp_, 32, 0, 1, 0};
    for (int i = 0; i < 9; ++i) head += (i > 0 ? " " : "") + fmt_int(fields[i], 5);
    if (head.size() < 80) head.resize(80, ' ');
    file.write(head);
    file.write(cvirt_.get(), static_cast<std::size_t>(nbytes_) * static_cast<std::size_t>(nhwind_));
    return 0;
}

int RasterImage::highest_index() const {
    int top = 0;
    if (irgb_ != 0 || !cvirt_) return top;
    for (int y = 0; y < nhwind_ && top < 255; ++y) {
        const unsigned char* p = pixel_at(0, y);
        top = std::max(top, static_cast<int>(*std::max_element(p, p + nwwind_)));
    }
    return top;
}

void RasterImage::qqvfin() {
    cvirt_.reset();
    nwwind_ = nhwind_ = 0;
    irgb_ = irev_ = 0;
    bpp_ = 1;
    nbytes_ = 0;
    nclr_ = 0;
    ir_ = ig_ = ib_ = 0;
}

namespace {

// Line width of the images in plot units: that of the PostScript and PDF
// pages (5 PostScript units at 3900 / 2100 units per plot unit).
constexpr float kLineWidth = 5.0f * 2100.0f / 3900.0f;

class RasterDriver final : public Driver {
  public:
    explicit RasterDriver(int writer) : writer_(writer) {
        info_.kind = DeviceInfo::Kind::raster;
        info_.reverses = true;
    }
    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return scale_; }
    std::string file() const override { return name_; }

    void begin(const std::string& file) override {
        name_ = file;
        float pw, ph;
        oriented_page(pw, ph);
        int w = g.dev.imgw, h = g.dev.imgh;
        int sized = g.dev.winopt != 0 ? 1 : 0;
        if (g.dev.rasw > 0 && g.dev.rash > 0) {
            w = g.dev.rasw;
            h = g.dev.rash;
            sized = 1;
        }
        if (image_.qqvini(static_cast<int>(pw), static_cast<int>(ph), w, h, sized, g.dev.bgmode,
                          0) != 0) {
            // No memory for the image: the plot goes on without output.
            warnin(53);
            no_memory_ = true;
        } else if (has_file()) {
            // The file is made now, to be written at the end: a name that
            // cannot be created is known at disini.
            out_.create(name_);
            name_ = out_.name();
        }
        scale_ = pixel_scale(w, h);
        // Lines as wide as on the vector pages, at least one pixel: on the
        // image of the default size they are one pixel wide.
        image_.set_line_width(rnd(kLineWidth * scale_));
    }

    void pen(float x, float y, PenOp op) override {
        double dx = 0.0, dy = 0.0;
        page_to_device(Layout::pixels, scale_, x, y, dx, dy);
        const int ix = rnd(dx), iy = rnd(dy);
        if (op == PenOp::draw) image_.qqvlin(cx_, cy_, ix, iy);
        cx_ = ix;
        cy_ = iy;
    }

    void colour(int index, Rgb) override { image_.qqvclr(index); }

    bool box(float x1, float y1, float x2, float y2, int index, Rgb) override {
        double b[4];
        pixel_box(scale_, x1, y1, x2, y2, b);
        image_.qqvfll(rnd(b[0]), rnd(b[1]), rnd(b[2]), rnd(b[3]), ((index % 256) + 256) % 256);
        return true;
    }

    void palette(int type, const std::uint32_t* table) override { image_.qqvvlt(type, table); }

    void erase() override { image_.qqvers(); }

    int create_error() const override { return out_.is_open() ? 0 : out_.error(); }

    FileResult finish() override {
        // The image in memory only has no file.
        if (!has_file()) return {};
        if (no_memory_) return {-1, ENOMEM, true};
        if (!out_.is_open()) return {-1, out_.error(), false};
        const int status = qqrfil(out_);
        if (status != 0 && status != -1) out_.fail(status == -2 ? ENOMEM : EIO);
        const bool written = out_.close();
        // The name may be another free version now: a file of the name may
        // have appeared meanwhile.
        name_ = out_.name();
        if (written) return {1, 0, false};
        if (status == -2) {
            warnin(53);
            return {-1, ENOMEM, true};
        }
        if (status < -2) {
            qqserr("ZLIB error");
            warnin(101);
            return {-1, EIO, true};
        }
        return {-1, out_.error(), false};
    }

  private:
    bool has_file() const { return writer_ != 3 && writer_ <= 6; }

    // Writes the image with the writer of the format; the writer's status.
    int qqrfil(OutputFile& out) const {
        const int type = g.colour.type;
        int entries = type == 0 ? 9 : (type == 7 ? 16 : 256);
        // The short palettes of the small tables must still hold every index
        // in the image (drawn with a higher index, or before the table changed).
        if (entries < 256) entries = std::max(entries, image_.highest_index() + 1);
        const RowReader rows = [this](unsigned char* b, int x, int y, int n, int k) {
            image_.qqvrdr(b, x, y, n, k);
        };
        const int device = (600 + writer_) * (image_.rgb() ? -1 : 1);
        const int order = host_byte_order();
        const int w = image_.width(), h = image_.height();
        switch (writer_) {
        case 1: return qqptif(out, device, order, w, h, g.colour.table, entries, rows);
        case 2: return image_.qqvfil(out, 0) == 0 ? 0 : -1;
        case 4: return qqppng(out, device, order, w, h, g.colour.table, entries, rows);
        case 5: return qqpppm(out, device, w, h, g.colour.table, rows);
        default: return qqpbmp(out, device, order, w, h, g.colour.table, entries, rows);
        }
    }

    DeviceInfo info_;
    int writer_;
    std::string name_;
    OutputFile out_;
    RasterImage image_;
    float scale_ = 1.0f;
    bool no_memory_ = false;
    int cx_ = 0, cy_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_raster_driver(int writer) {
    return std::make_unique<RasterDriver>(writer);
}

} // namespace plotix::detail
