// HPGL plotter output (devices 401..405): pen-up and pen-down records and pen
// selection, through the line buffer.
#include <string>

#include "core/format.h"
#include "core/helpers.h"
#include "drivers/setup.h"
#include "drivers/stream.h"

namespace plotix::detail {

namespace {

// Plotter units (0.025 mm) per plot unit (0.1 mm).
constexpr float kPlotterUnits = 4.0f;

class Hpgl final : public StreamDriver {
  public:
    explicit Hpgl(bool sheet) : layout_(sheet ? Layout::sheet : Layout::plotter) {
        info_.kind = DeviceInfo::Kind::stream;
        info_.lines_before_boxes = false; // no boxes: their zig-zag strokes first
    }
    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return scale_; }

    void pen(float x, float y, PenOp op) override {
        if (op != PenOp::draw && op != PenOp::move) return;
        double dx = 0.0, dy = 0.0;
        page_to_device(layout_, scale_, x, y, dx, dy);
        std::string s = std::string(op == PenOp::draw ? "PD" : "PU") +
                        fmt_int(static_cast<int>(dx), 8) + "," + fmt_int(static_cast<int>(dy), 8) +
                        ";";
        dsblnk(s);
        buf_.qqsbuf(s);
    }

    void colour(int index, Rgb) override {
        if (index == current_) return;
        current_ = index;
        std::string s = "SP" + fmt_int(index, 5) + ";";
        dsblnk(s);
        buf_.qqsbuf(s);
    }

  private:
    void start() override {
        buf_.write_direct(" SP1;\n");
        scale_ = kPlotterUnits * setup_p();
    }
    void end() override { buf_.qqsbuf("PU0,0;"); }

    DeviceInfo info_;
    Layout layout_;
    float scale_ = 1.0f;
    int current_ = 0; // the pen of the file
};

} // namespace

std::unique_ptr<Driver> make_hpgl_driver(bool sheet) {
    return std::make_unique<Hpgl>(sheet);
}

} // namespace plotix::detail
