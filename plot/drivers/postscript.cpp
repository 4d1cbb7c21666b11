// PostScript writer (devices 501..600 except 511): header and prolog,
// 50-point paths, colours, boxes, polygons and the page end, all through the
// 80-column line buffer.
#include "drivers/postscript.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <vector>

#include "core/format.h"
#include "core/helpers.h"
#include "core/state.h"
#include "drivers/setup.h"
#include "drivers/stream.h"

namespace plotix::detail {

namespace {

constexpr double kPoints = 0.1417322835; // PostScript points per device unit
constexpr int kPathMax = 50;

std::string point(int x, int y, const char* cmd) {
    return fmt_int(x, 5) + " " + fmt_int(y, 5) + " " + cmd + " ";
}

class PostScript final : public StreamDriver {
  public:
    explicit PostScript(PostScriptKind kind) : kind_(kind) {
        info_.kind = DeviceInfo::Kind::stream;
        info_.polygons = DeviceInfo::Polygons::filled;
        info_.lines_before_boxes = false; // a box is written ahead of the open path
        if (kind == PostScriptKind::post) {
            info_.table = 6;
            info_.light_page = true;
            info_.black_white_swapped = true;
        } else {
            info_.reverses = true;
        }
        if (kind == PostScriptKind::eps || kind == PostScriptKind::ps) info_.background = 2;
    }
    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return scale_; }

    void pen(float x, float y, PenOp op) override {
        double dx = 0.0, dy = 0.0;
        page_to_device(Layout::postscript, scale_, x, y, dx, dy);
        drwpsc(dx, dy, op);
    }

    void colour(int, Rgb c) override {
        drwpsc(0.0, 0.0, PenOp::flush);
        buf_.qpsbuf(fmt_int(c.r, 3) + " " + fmt_int(c.g, 3) + " " + fmt_int(c.b, 3) + " f ");
    }

    // The box goes out at once: a path still open here is written after it.
    bool box(float x1, float y1, float x2, float y2, int, Rgb c) override {
        double b[4];
        postscript_box(scale_, x1, y1, x2, y2, b);
        buf_.qpsbuf(fmt_int(rnd(b[0]), 5) + " " + fmt_int(rnd(b[1]), 5) + " " +
                    fmt_int(rnd(b[2]), 5) + " " + fmt_int(rnd(b[3]), 5) + " " + fmt_int(c.r, 3) +
                    " " + fmt_int(c.g, 3) + " " + fmt_int(c.b, 3) + " e ");
        return true;
    }

    // Written at once, like the box: a path still open here follows it.
    bool polygon(const float* x, const float* y, int n) override {
        if (n <= 0) return true;
        std::vector<int> ix(static_cast<std::size_t>(n)), iy(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            double dx = 0.0, dy = 0.0;
            page_to_device(Layout::postscript, scale_, x[i], y[i], dx, dy);
            ix[i] = rnd(dx);
            iy[i] = rnd(dy);
        }
        buf_.qpsbuf(point(ix[0], iy[0], "u"));
        for (int i = 1; i < n; ++i) buf_.qpsbuf(point(ix[i], iy[i], "d"));
        buf_.qpsbuf(point(ix[0], iy[0], "d"));
        buf_.qpsbuf("eofill ");
        return true;
    }

  private:
    void start() override {
        float w, h;
        oriented_page(w, h);
        const float p = setup_p();
        float pw = 3900.0f, ph = 5600.0f;
        const bool paper = g.page.paperw > 0.0f && g.page.paperh > 0.0f;
        if (paper) {
            pw = 2.0f * g.page.paperw;
            ph = 2.0f * g.page.paperh;
        }
        landscape_ = w > h && g.page.swap != 2;
        float fit = landscape_ ? std::min(ph / w, pw / h) : std::min(pw / w, ph / h);
        if (g.page.nolimit == 0) fit = std::min(fit, 2.0f * p);
        scale_ = paper ? fit : 3900.0f * g.page.unitdiv / 2100.0f;
        inipsc(fit / scale_);
    }

    void end() override {
        drwpsc(0.0, 0.0, PenOp::flush);
        buf_.qpsbuf("showpage ");
    }

    // The header, the prolog and the page set-up; f is the enlargement of
    // the page (the user scale while the header is written).
    void inipsc(float f) {
        float w, h;
        oriented_page(w, h);
        const double s = scale_;
        const double ox = 150.0, oy = 200.0;
        const double a = landscape_ ? h : w, b = landscape_ ? w : h;
        auto trunc = [](double v) {
            return std::isfinite(v) ? static_cast<std::int64_t>(std::clamp(v, -1e15, 1e15)) : 0;
        };
        std::string t =
            kind_ == PostScriptKind::eps ? "%!PS-Adobe-3.0 EPSF-3.0\n" : "%!PS-Adobe-2.0\n";
        // The turned landscape page shown upright: the paper is turned (a
        // landscape page size) and the drawing turned back onto it.
        const bool upright = landscape_ && g.dev.upright != 0;
        const double across = a * s * f, along = b * s * f; // device units
        const std::int64_t paperw = trunc(std::ceil((along + 2.0 * oy) * kPoints));
        const std::int64_t paperh = trunc(std::ceil((across + 2.0 * ox) * kPoints));
        if (upright) {
            t += "%%BoundingBox:  " + fmt_int(trunc(oy * kPoints)) + " " +
                 fmt_int(trunc(paperh - (across + ox) * kPoints)) + " " +
                 fmt_int(trunc((along + oy) * kPoints + 1)) + " " +
                 fmt_int(trunc(paperh - ox * kPoints + 1)) + "\n";
        } else {
            t += "%%BoundingBox:  " + fmt_int(trunc(ox * kPoints)) + " " +
                 fmt_int(trunc(oy * kPoints)) + " " + fmt_int(trunc((across + ox) * kPoints + 1)) +
                 " " + fmt_int(trunc((along + oy) * kPoints + 1)) + "\n";
        }
        t += "%%Creator: PLOTIX  " + fmt_fixed(kVersion, 4, 1) + (landscape_ ? " L\n" : " P\n");
        t += "%%CreationDate: " + dddate() + " , " + ddtime() + "\n";
        t += "%%Page: 1 1\n%%EndComments\n";
        for (const char* line : kPostScriptProlog) {
            t += line;
            t += '\n';
        }
        if (upright) {
            if (kind_ != PostScriptKind::eps) {
                t += "<< /PageSize [" + fmt_int(paperw) + " " + fmt_int(paperh) +
                     "] >> setpagedevice\n";
            }
            t += "0 " + fmt_int(paperh) + " translate -90 rotate\n";
        }
        const double fd = f;
        t += "  150 cm   200 cm translate 5 cm setlinewidth " + fmt_fixed(fd, 10, 6) +
             fmt_fixed(fd, 10, 6) + " scale\n";
        const bool black_page = kind_ == PostScriptKind::pscl || kind_ == PostScriptKind::eps;
        if (black_page && g.dev.bgmode != 2) {
            const std::string hs = fmt_int(rnd(h * s)), ws = fmt_int(rnd(w * s));
            t += landscape_ ? "0 0 " + hs + " " + ws + " 0 0 0 e \n"
                            : "0 " + hs + " " + ws + " 0 0 0 0 e \n";
        }
        buf_.write_direct(t);
    }

    void drwpsc(double x, double y, PenOp op) {
        if (op == PenOp::draw) {
            if (n_ == 0) {
                px_[0] = endx_;
                py_[0] = endy_;
                n_ = 1;
            }
            px_[n_] = rnd(x);
            py_[n_] = rnd(y);
            ++n_;
            if (n_ < kPathMax) return;
        }
        if (n_ > 0) {
            buf_.qpsbuf(point(px_[0], py_[0], "u"));
            for (int i = 1; i < n_; ++i) buf_.qpsbuf(point(px_[i], py_[i], "d"));
            buf_.qpsbuf("p ");
        }
        if (op == PenOp::flush) {
            if (n_ > 0) {
                endx_ = px_[n_ - 1];
                endy_ = py_[n_ - 1];
            }
            n_ = 0;
            return;
        }
        n_ = 1;
        px_[0] = rnd(x);
        py_[0] = rnd(y);
    }

    PostScriptKind kind_;
    DeviceInfo info_;
    float scale_ = 1.0f;
    bool landscape_ = true;
    int px_[kPathMax] = {}, py_[kPathMax] = {};
    int n_ = 0;
    int endx_ = 0, endy_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_postscript_driver(PostScriptKind kind) {
    return std::make_unique<PostScript>(kind);
}

} // namespace plotix::detail
