// The library's own metafile (device 201): a header line with the page size
// in centimetres, then 10-byte records of coordinates, operation tokens and
// colours, and the end record.
#include <algorithm>
#include <string>

#include "core/format.h"
#include "core/state.h"
#include "drivers/setup.h"
#include "drivers/stream.h"

namespace plotix::detail {

namespace {

class Gksl final : public StreamDriver {
  public:
    Gksl() {
        info_.kind = DeviceInfo::Kind::stream;
        info_.lines_before_boxes = false; // no boxes: their zig-zag strokes first
    }
    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return scale_; }

    void pen(float x, float y, PenOp op) override {
        double dx = 0.0, dy = 0.0;
        page_to_device(Layout::metafile, scale_, x, y, dx, dy);
        record(dx, dy, op);
    }

    void colour(int index, Rgb) override {
        if (index == current_) return;
        current_ = index;
        int e = ((index % 256) + 256) % 256;
        if (e == 0) e = 256;
        for (int i = 0; i < (e + 88) / 89 - 1; ++i) buf_.qqsbuf("99.0000000");
        int r = e % 89;
        if (r == 0) r = 89;
        buf_.qqsbuf(fmt_fixed(r + 9, 10, 7));
    }

  private:
    void start() override {
        float w, h;
        oriented_page(w, h);
        const float p = setup_p();
        const double wcm = static_cast<double>(g.page.width) * p / 100.0;
        const double hcm = static_cast<double>(g.page.height) * p / 100.0;
        if (g.page.swap == 1) {
            buf_.write_direct(fmt_fixed(hcm, 10, 1) + fmt_fixed(wcm, 10, 1) + "\n");
        } else {
            buf_.write_direct(fmt_fixed(wcm, 10, 1) + fmt_fixed(hcm, 10, 1) + "\n");
        }
        scale_ = 1.0f / std::max(w, h);
    }

    void end() override {
        pen(0.0f, 0.0f, PenOp::move); // the pen returns to the page origin
        buf_.qqsbuf(" 9.0000000");
        last_op_ = PenOp::end;
    }

    void record(double x, double y, PenOp op) {
        if (op != PenOp::draw && op != PenOp::move) return;
        buf_.qqsbuf(fmt_fixed(x, 10, 7));
        buf_.qqsbuf(fmt_fixed(y, 10, 7));
        if (op != last_op_) {
            buf_.qqsbuf(op == PenOp::draw ? " 2.0000000" : " 3.0000000");
            last_op_ = op;
        }
    }

    DeviceInfo info_;
    float scale_ = 1.0f;
    PenOp last_op_ = PenOp::end;
    int current_ = 0; // the colour index of the file
};

} // namespace

std::unique_ptr<Driver> make_gksl_driver() {
    return std::make_unique<Gksl>();
}

} // namespace plotix::detail
