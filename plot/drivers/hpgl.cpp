// HPGL plotter output (devices 401..405): pen-up and pen-down records and pen
// selection, through the line buffer.
#include <string>

#include "core/format.h"
#include "core/helpers.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/linebuf.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

// Plotter units (0.025 mm) per plot unit (0.1 mm).
constexpr float kPlotterUnits = 4.0f;

class Hpgl final : public Driver {
  public:
    void begin() override {
        write_direct(" SP1;\n");
        g.dev.scale = kPlotterUnits * setup_p();
    }

    void vertex(double x, double y, int op) override {
        if (op != 2 && op != 3) return;
        std::string s = std::string(op == 2 ? "PD" : "PU") + fmt_int(static_cast<int>(x), 8) + "," +
                        fmt_int(static_cast<int>(y), 8) + ";";
        dsblnk(s);
        qqsbuf(s);
    }

    void colour(int index, int, int, int) override {
        if (index == g.colour.current) return;
        std::string s = "SP" + fmt_int(index, 5) + ";";
        dsblnk(s);
        qqsbuf(s);
    }

    void finish() override { qqsbuf("PU0,0;"); }
};

} // namespace

std::unique_ptr<Driver> make_hpgl_driver() {
    return std::make_unique<Hpgl>();
}

} // namespace plotix::detail
