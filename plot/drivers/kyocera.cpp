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

// Fill patterns of the box command: 8 rows of 8 dots each, ordered-dither
// greys from white (row 0) to nearly black (row 9).
constexpr int kPatterns[10][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},
    {136, 0, 32, 0, 136, 0, 2, 0},
    {170, 0, 34, 0, 170, 0, 34, 0},
    {170, 68, 170, 0, 170, 4, 170, 0},
    {170, 84, 170, 17, 170, 68, 170, 17},
    {170, 85, 170, 85, 170, 85, 170, 85},
    {238, 85, 186, 85, 238, 85, 171, 85},
    {255, 85, 187, 85, 255, 85, 187, 85},
    {255, 221, 255, 85, 255, 93, 255, 85},
    {255, 253, 255, 119, 255, 221, 255, 119},
};

class Kyocera final : public Driver {
  public:
    void begin() override { g.dev.scale = kDots * setup_p(); }

    void vertex(double x, double y, int op) override {
        if (op != 2 && op != 3) return;
        qqsbuf(op == 2 ? "DAP " : "MAP ");
        qqsbuf(fmt_int(static_cast<int>(x), 4) + ",");
        qqsbuf(fmt_int(static_cast<int>(y), 4) + ";");
    }

    // A box filled with the grey pattern of row (index mod 10); row 0 leaves
    // the box white.
    void box(double x1, double y1, double x2, double y2, int index, int, int, int) override {
        const int row = ((index % 10) + 10) % 10;
        if (row == 0) return;
        const int ix1 = rnd(x1), iy1 = rnd(y1), ix2 = rnd(x2), iy2 = rnd(y2);
        qqsbuf("MAP " + fmt_int(ix1, 4) + "," + fmt_int(iy1, 4) + "; ");
        std::string fpat = "FPAT ";
        for (int i = 0; i < 8; ++i) {
            fpat += fmt_int(kPatterns[row][i], 3) + (i < 7 ? "," : "; ");
        }
        qqsbuf(fpat);
        qqsbuf("BLK " + fmt_int(static_cast<std::int64_t>(ix2) - ix1 + 1, 4) + "," +
               fmt_int(static_cast<std::int64_t>(iy2) - iy1 + 1, 4) + ";");
    }

    void finish() override { qqsbuf("RES;EXIT;"); }
};

} // namespace

std::unique_ptr<Driver> make_kyocera_driver() {
    return std::make_unique<Kyocera>();
}

} // namespace plotix::detail
