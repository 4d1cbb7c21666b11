// SVG output: a standalone SVG 1.1 document whose viewBox is the page in
// plot units; lines become polylines, filled boxes and polygons rectangles
// and polygons, each in its colour. Lines are as wide as on the PostScript
// and PDF pages, with their square ends and bevelled joins.
#include <cmath>
#include <string>

#include "core/format.h"
#include "core/state.h"
#include "drivers/setup.h"
#include "drivers/stream.h"

namespace plotix::detail {

namespace {

// 5 PostScript units at 3900 / 2100 units per plot unit.
constexpr const char* kLineWidth = "2.69";
constexpr int kPointsPerLine = 8;

std::string num(double v) {
    if (!std::isfinite(v)) v = 0.0;
    std::string s = fmt_fixed(v, 0, 1);
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    if (s == "-0") s = "0";
    return s;
}

std::string hex(Rgb c) {
    static const char* const digits = "0123456789abcdef";
    std::string s = "#";
    for (int v : {c.r, c.g, c.b}) {
        v = v < 0 ? 0 : (v > 255 ? 255 : v);
        s += digits[v / 16];
        s += digits[v % 16];
    }
    return s;
}

class Svg final : public StreamDriver {
  public:
    Svg() {
        info_.kind = DeviceInfo::Kind::stream;
        info_.polygons = DeviceInfo::Polygons::filled;
        info_.background = 2;
        info_.reverses = true;
    }
    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return 1.0f; }

    void pen(float x, float y, PenOp op) override {
        double dx = 0.0, dy = 0.0;
        to_page(x, y, dx, dy);
        switch (op) {
        case PenOp::move:
            write_polyline();
            points_ = point(dx, dy);
            count_ = 1;
            break;
        case PenOp::draw:
            if (count_ == 0) {
                points_ = point(lastx_, lasty_);
                count_ = 1;
            }
            points_ += (count_ % kPointsPerLine == 0 ? "\n" : " ") + point(dx, dy);
            ++count_;
            break;
        default: write_polyline(); return;
        }
        lastx_ = dx;
        lasty_ = dy;
    }

    void colour(int, Rgb c) override {
        write_polyline();
        colour_ = hex(c);
    }

    // Boxes and polygons go out at once, ahead of a polyline still open (as
    // on the PostScript page: the outline of a filled polygon lies on top).
    bool box(float x1, float y1, float x2, float y2, int, Rgb c) override {
        double ax, ay, bx, by;
        to_page(x1, y1, ax, ay);
        to_page(x2, y2, bx, by);
        buf_.write_direct("<rect x=\"" + num(std::min(ax, bx)) + "\" y=\"" + num(std::min(ay, by)) +
                          "\" width=\"" + num(std::fabs(bx - ax)) + "\" height=\"" +
                          num(std::fabs(by - ay)) + "\" fill=\"" + hex(c) +
                          "\" stroke=\"none\"/>\n");
        return true;
    }

    bool polygon(const float* x, const float* y, int n) override {
        std::string s = "<polygon points=\"";
        for (int i = 0; i < n; ++i) {
            double dx, dy;
            to_page(x[i], y[i], dx, dy);
            if (i > 0) s += i % kPointsPerLine == 0 ? "\n" : " ";
            s += point(dx, dy);
        }
        buf_.write_direct(s + "\" fill=\"" + colour_ +
                          "\" fill-rule=\"evenodd\" stroke=\"none\"/>\n");
        return true;
    }

    void erase() override {
        write_polyline();
        background();
    }

  private:
    void start() override {
        oriented_page(w_, h_);
        const double p = setup_p();
        std::string t = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                        "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\"\n"
                        "  \"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n";
        t += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
             num(w_ * p / 10.0) + "mm\" height=\"" + num(h_ * p / 10.0) + "mm\" viewBox=\"0 0 " +
             num(w_) + " " + num(h_) + "\">\n";
        t += "<title>PLOTIX " + fmt_fixed(kVersion, 3, 1) + "</title>\n";
        buf_.write_direct(t);
        background();
        buf_.write_direct(std::string("<g fill=\"none\" stroke-width=\"") + kLineWidth +
                          "\" stroke-linecap=\"square\" stroke-linejoin=\"bevel\">\n");
    }

    void end() override {
        write_polyline();
        buf_.write_direct("</g>\n</svg>\n");
    }

    // The page: white in the reversed background mode, else black.
    void background() {
        buf_.write_direct("<rect x=\"0\" y=\"0\" width=\"" + num(w_) + "\" height=\"" + num(h_) +
                          "\" fill=\"" + (g.dev.bgmode == 2 ? "#ffffff" : "#000000") +
                          "\" stroke=\"none\"/>\n");
    }

    // Plot units on the page as the document shows it.
    void to_page(float x, float y, double& dx, double& dy) const {
        if (g.page.swap == 1) {
            dx = y;
            dy = static_cast<double>(g.page.width) - x;
        } else {
            dx = x;
            dy = y;
        }
    }

    static std::string point(double x, double y) { return num(x) + "," + num(y); }

    void write_polyline() {
        if (count_ >= 2) {
            buf_.write_direct("<polyline points=\"" + points_ + "\" stroke=\"" + colour_ +
                              "\"/>\n");
        }
        points_.clear();
        count_ = 0;
    }

    DeviceInfo info_;
    float w_ = 0.0f, h_ = 0.0f;
    std::string colour_ = "#000000";
    std::string points_;
    int count_ = 0;
    double lastx_ = 0.0, lasty_ = 0.0;
};

} // namespace

std::unique_ptr<Driver> make_svg_driver() {
    return std::make_unique<Svg>();
}

} // namespace plotix::detail
