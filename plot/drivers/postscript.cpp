// PostScript writer: header and prolog, 50-point paths, colours, boxes,
// polygons and the page end, all through the 80-column line buffer.
#include "drivers/postscript.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/format.h"
#include "core/helpers.h"
#include "core/state.h"
#include "drivers/linebuf.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

constexpr double kPoints = 0.1417322835; // PostScript points per device unit
constexpr int kPathMax = 50;

std::string point(int x, int y, const char* cmd) {
    return fmt_int(x, 5) + " " + fmt_int(y, 5) + " " + cmd + " ";
}

class PostScript final : public Driver {
  public:
    void begin() override {
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
        const float s = paper ? fit : 3900.0f * g.page.unitdiv / 2100.0f;
        g.dev.scale = s;
        const float saved = g.page.userscale;
        g.page.userscale = fit / s;
        inipsc();
        g.page.userscale = saved;
    }

    void vertex(double x, double y, int op) override { drwpsc(x, y, op); }

    void colour(int, int r, int gr, int b) override {
        drwpsc(0.0, 0.0, 999);
        qpsbuf(fmt_int(r, 3) + " " + fmt_int(gr, 3) + " " + fmt_int(b, 3) + " f ");
    }

    // The box goes out at once: a path still open here is written after it.
    void box(double x1, double y1, double x2, double y2, int, int r, int gr, int b) override {
        qpsbuf(fmt_int(rnd(x1), 5) + " " + fmt_int(rnd(y1), 5) + " " + fmt_int(rnd(x2), 5) + " " +
               fmt_int(rnd(y2), 5) + " " + fmt_int(r, 3) + " " + fmt_int(gr, 3) + " " +
               fmt_int(b, 3) + " e ");
    }

    void polygon(const int* x, const int* y, int n) override {
        // Written at once, like the box: a path still open here follows it.
        if (n <= 0) return;
        qpsbuf(point(x[0], y[0], "u"));
        for (int i = 1; i < n; ++i) qpsbuf(point(x[i], y[i], "d"));
        qpsbuf(point(x[0], y[0], "d"));
        qpsbuf("eofill ");
    }

    void finish() override {
        drwpsc(0.0, 0.0, 999);
        qpsbuf("showpage ");
    }

  private:
    void inipsc() {
        const int dev = g.out.device;
        float w, h;
        oriented_page(w, h);
        const double s = g.dev.scale, f = g.page.userscale;
        const double ox = 150.0, oy = 200.0;
        const double a = landscape_ ? h : w, b = landscape_ ? w : h;
        auto trunc = [](double v) {
            return std::isfinite(v) ? static_cast<std::int64_t>(std::clamp(v, -1e15, 1e15)) : 0;
        };
        std::string t = dev == 503 ? "%!PS-Adobe-3.0 EPSF-3.0\n" : "%!PS-Adobe-2.0\n";
        t += "%%BoundingBox:  " + fmt_int(trunc(ox * kPoints)) + " " +
             fmt_int(trunc(oy * kPoints)) + " " + fmt_int(trunc((a * s * f + ox) * kPoints + 1)) +
             " " + fmt_int(trunc((b * s * f + oy) * kPoints + 1)) + "\n";
        t += "%%Creator: PLOTIX  " + fmt_fixed(kVersion, 4, 1) + (landscape_ ? " L\n" : " P\n");
        t += "%%CreationDate: " + dddate() + " , " + ddtime() + "\n";
        t += "%%Page: 1 1\n%%EndComments\n";
        for (const char* line : kPostScriptProlog) {
            t += line;
            t += '\n';
        }
        t += "  150 cm   200 cm translate 5 cm setlinewidth " + fmt_fixed(f, 10, 6) +
             fmt_fixed(f, 10, 6) + " scale\n";
        if ((dev == 502 || dev == 503) && g.dev.bgmode != 2) {
            const std::string hs = fmt_int(rnd(h * s)), ws = fmt_int(rnd(w * s));
            t += landscape_ ? "0 0 " + hs + " " + ws + " 0 0 0 e \n"
                            : "0 " + hs + " " + ws + " 0 0 0 0 e \n";
        }
        write_direct(t);
    }

    void drwpsc(double x, double y, int op) {
        if (op == 2) {
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
            qpsbuf(point(px_[0], py_[0], "u"));
            for (int i = 1; i < n_; ++i) qpsbuf(point(px_[i], py_[i], "d"));
            qpsbuf("p ");
        }
        if (op == 999) {
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

    bool landscape_ = true;
    int px_[kPathMax] = {}, py_[kPathMax] = {};
    int n_ = 0;
    int endx_ = 0, endy_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_postscript_driver() {
    return std::make_unique<PostScript>();
}

} // namespace plotix::detail
