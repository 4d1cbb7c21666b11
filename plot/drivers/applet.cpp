// Applet source output (device 701): a paint method of drawLine, setColor,
// fillRect and clearRect calls, written straight to the file.
#include <string>

#include "core/format.h"
#include "core/state.h"
#include "drivers/setup.h"
#include "drivers/stream.h"

namespace plotix::detail {

namespace {

std::string set_color(Rgb c) {
    return "  g.setColor (new Color (" + fmt_int(c.r) + "," + fmt_int(c.g) + "," + fmt_int(c.b) +
           "));\n";
}

class Applet final : public StreamDriver {
  public:
    Applet() {
        info_.kind = DeviceInfo::Kind::stream;
        info_.light_page = true;
    }
    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return scale_; }

    void pen(float x, float y, PenOp op) override {
        double dx = 0.0, dy = 0.0;
        page_to_device(Layout::pixels, scale_, x, y, dx, dy);
        const int ix = static_cast<int>(dx), iy = static_cast<int>(dy);
        if (op == PenOp::draw) {
            buf_.write_direct("  g.drawLine (" + fmt_int(cx_) + "," + fmt_int(cy_) + "," +
                              fmt_int(ix) + "," + fmt_int(iy) + ");\n");
        }
        cx_ = ix;
        cy_ = iy;
    }

    void colour(int, Rgb c) override { buf_.write_direct(set_color(c)); }

    // The box is painted in its own colour, which stays the current one.
    bool box(float x1, float y1, float x2, float y2, int, Rgb c) override {
        double b[4];
        pixel_box(scale_, x1, y1, x2, y2, b);
        const int ix1 = rnd(b[0]), iy1 = rnd(b[1]), ix2 = rnd(b[2]), iy2 = rnd(b[3]);
        buf_.write_direct(set_color(c));
        buf_.write_direct("  g.fillRect (" + fmt_int(ix1) + "," + fmt_int(iy1) + "," +
                          fmt_int(static_cast<std::int64_t>(ix2) - ix1 + 1) + "," +
                          fmt_int(static_cast<std::int64_t>(iy2) - iy1 + 1) + ");\n");
        return true;
    }

    void erase() override {
        buf_.write_direct("  g.clearRect (0,0," + fmt_int(g.dev.imgw) + "," + fmt_int(g.dev.imgh) +
                          ");\n");
    }

  private:
    void start() override {
        buf_.write_direct(
            "import java.applet.Applet;\nimport java.awt.*;\n\n"
            "public class plotix extends Applet\n{ public void paint (Graphics g)\n  {\n");
        scale_ = pixel_scale(g.dev.imgw, g.dev.imgh);
    }
    void end() override { buf_.write_direct("  }\n}\n"); }

    DeviceInfo info_;
    float scale_ = 1.0f;
    int cx_ = 0, cy_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_applet_driver() {
    return std::make_unique<Applet>();
}

} // namespace plotix::detail
