// Applet source output (device 701): a paint method of drawLine, setColor,
// fillRect and clearRect calls, written straight to the file.
#include <string>

#include "core/format.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/linebuf.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

class Applet final : public Driver {
  public:
    void begin() override {
        write_direct("import java.applet.Applet;\nimport java.awt.*;\n\n"
                     "public class plotix extends Applet\n{ public void paint (Graphics g)\n  {\n");
        g.dev.scale = pixel_scale(g.dev.imgw, g.dev.imgh);
    }

    void vertex(double x, double y, int op) override {
        const int ix = static_cast<int>(x), iy = static_cast<int>(y);
        if (op == 2) {
            write_direct("  g.drawLine (" + fmt_int(cx_) + "," + fmt_int(cy_) + "," + fmt_int(ix) +
                         "," + fmt_int(iy) + ");\n");
        }
        cx_ = ix;
        cy_ = iy;
    }

    void colour(int, int r, int gr, int b) override {
        write_direct("  g.setColor (new Color (" + fmt_int(r) + "," + fmt_int(gr) + "," +
                     fmt_int(b) + "));\n");
    }

    void box(double x1, double y1, double x2, double y2, int, int, int, int) override {
        const int ix1 = rnd(x1), iy1 = rnd(y1), ix2 = rnd(x2), iy2 = rnd(y2);
        write_direct("  g.fillRect (" + fmt_int(ix1) + "," + fmt_int(iy1) + "," +
                     fmt_int(static_cast<std::int64_t>(ix2) - ix1 + 1) + "," +
                     fmt_int(static_cast<std::int64_t>(iy2) - iy1 + 1) + ");\n");
    }

    void erase() override {
        write_direct("  g.clearRect (0,0," + fmt_int(g.dev.imgw) + "," + fmt_int(g.dev.imgh) +
                     ");\n");
    }

    void finish() override { write_direct("  }\n}\n"); }

  private:
    int cx_ = 0, cy_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_applet_driver() {
    return std::make_unique<Applet>();
}

} // namespace plotix::detail
