// Kyocera printer stream (device 301): absolute moves and draws in printer
// dots, and the closing reset.
#include <string>

#include "core/format.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/linebuf.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

// Printer dots (1/300 inch) per plot unit (0.1 mm).
constexpr float kDots = 300.0f / 254.0f;

class Kyocera final : public Driver {
  public:
    void begin() override { g.dev.scale = kDots * setup_p(); }

    void vertex(double x, double y, int op) override {
        if (op != 2 && op != 3) return;
        qqsbuf(op == 2 ? "DAP " : "MAP ");
        qqsbuf(fmt_int(static_cast<int>(x), 4) + ",");
        qqsbuf(fmt_int(static_cast<int>(y), 4) + ";");
    }

    void finish() override { qqsbuf("RES;EXIT;"); }
};

} // namespace

std::unique_ptr<Driver> make_kyocera_driver() {
    return std::make_unique<Kyocera>();
}

} // namespace plotix::detail
