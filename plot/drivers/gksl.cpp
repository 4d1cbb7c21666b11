// The library's own metafile (device 201): a header line with the page size
// in centimetres, then 10-byte records of coordinates, operation tokens and
// colours, and the end record.
#include <algorithm>
#include <string>

#include "core/format.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/linebuf.h"
#include "drivers/setup.h"
#include "pipeline/pipeline.h"

namespace plotix::detail {

namespace {

class Gksl final : public Driver {
  public:
    void begin() override {
        float w, h;
        oriented_page(w, h);
        const float p = setup_p();
        const double wcm = static_cast<double>(g.page.width) * p / 100.0;
        const double hcm = static_cast<double>(g.page.height) * p / 100.0;
        if (g.page.swap == 1) {
            write_direct(fmt_fixed(hcm, 10, 1) + fmt_fixed(wcm, 10, 1) + "\n");
        } else {
            write_direct(fmt_fixed(wcm, 10, 1) + fmt_fixed(hcm, 10, 1) + "\n");
        }
        g.dev.scale = 1.0f / std::max(w, h);
    }

    void vertex(double x, double y, int op) override {
        if (op != 2 && op != 3) return;
        qqsbuf(fmt_fixed(x, 10, 7));
        qqsbuf(fmt_fixed(y, 10, 7));
        if (op != last_op_) {
            qqsbuf(op == 2 ? " 2.0000000" : " 3.0000000");
            last_op_ = op;
        }
    }

    void colour(int index, int, int, int) override {
        if (index == g.colour.current) return;
        int e = ((index % 256) + 256) % 256;
        if (e == 0) e = 256;
        for (int i = 0; i < (e + 88) / 89 - 1; ++i) qqsbuf("99.0000000");
        int r = e % 89;
        if (r == 0) r = 89;
        qqsbuf(fmt_fixed(r + 9, 10, 7));
    }

    void finish() override {
        double x = 0.0, y = 0.0;
        device_point(0.0f, 0.0f, x, y); // the pen returns to the page origin
        vertex(x, y, 3);
        qqsbuf(" 9.0000000");
        last_op_ = 0;
    }

  private:
    int last_op_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_gksl_driver() {
    return std::make_unique<Gksl>();
}

} // namespace plotix::detail
