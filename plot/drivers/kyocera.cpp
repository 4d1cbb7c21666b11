// Kyocera printer stream (device 301): absolute moves and draws in printer
// dots, boxes in grey patterns, and the closing reset.
#include <string>

#include "core/format.h"
#include "drivers/setup.h"
#include "drivers/stream.h"

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

class Kyocera final : public StreamDriver {
  public:
    Kyocera() {
        info_.kind = DeviceInfo::Kind::stream;
        info_.small_table_only = true;
    }
    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return scale_; }

    void pen(float x, float y, PenOp op) override {
        if (op != PenOp::draw && op != PenOp::move) return;
        double dx = 0.0, dy = 0.0;
        page_to_device(Layout::printer, scale_, x, y, dx, dy);
        buf_.qqsbuf(op == PenOp::draw ? "DAP " : "MAP ");
        buf_.qqsbuf(fmt_int(static_cast<int>(dx), 4) + ",");
        buf_.qqsbuf(fmt_int(static_cast<int>(dy), 4) + ";");
    }

    // A box filled with the grey pattern of row (index mod 10); row 0 leaves
    // the box white.
    bool box(float x1, float y1, float x2, float y2, int index, Rgb) override {
        const int row = ((index % 10) + 10) % 10;
        if (row == 0) return true;
        double c[4];
        pixel_box(scale_, x1, y1, x2, y2, c);
        const int ix1 = rnd(c[0]), iy1 = rnd(c[1]), ix2 = rnd(c[2]), iy2 = rnd(c[3]);
        buf_.qqsbuf("MAP " + fmt_int(ix1, 4) + "," + fmt_int(iy1, 4) + "; ");
        std::string fpat = "FPAT ";
        for (int i = 0; i < 8; ++i) {
            fpat += fmt_int(kPatterns[row][i], 3) + (i < 7 ? "," : "; ");
        }
        buf_.qqsbuf(fpat);
        buf_.qqsbuf("BLK " + fmt_int(static_cast<std::int64_t>(ix2) - ix1 + 1, 4) + "," +
                    fmt_int(static_cast<std::int64_t>(iy2) - iy1 + 1, 4) + ";");
        return true;
    }

  private:
    void start() override { scale_ = kDots * setup_p(); }
    void end() override { buf_.qqsbuf("RES;EXIT;"); }

    DeviceInfo info_;
    float scale_ = 1.0f;
};

} // namespace

std::unique_ptr<Driver> make_kyocera_driver() {
    return std::make_unique<Kyocera>();
}

} // namespace plotix::detail
