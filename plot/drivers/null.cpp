// Drivers that draw nothing: formats whose contents this library does not
// define (or whose writers it does not have yet), and screens when no display
// can be opened.
#include "drivers/null.h"

#include "core/messages.h"
#include "core/state.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

class Null final : public Driver {
  public:
    Null(const DeviceInfo& info, float scale, bool boxes)
        : info_(info), scale_(scale), boxes_(boxes) {}
    const DeviceInfo& info() const override { return info_; }
    void begin(const std::string&) override {}
    float scale() const override { return scale_; }
    void pen(float, float, PenOp) override {}
    // Boxes and polygons are taken (and dropped) where the device family
    // would have filled them.
    bool box(float, float, float, float, int, Rgb) override { return boxes_; }
    bool polygon(const float*, const float*, int) override {
        return info_.polygons == DeviceInfo::Polygons::filled;
    }

  private:
    DeviceInfo info_;
    float scale_;
    bool boxes_;
};

class NoDisplay final : public Driver {
  public:
    NoDisplay() {
        info_.kind = DeviceInfo::Kind::screen;
        info_.polygons = DeviceInfo::Polygons::filled;
        info_.reverses = true;
    }
    const DeviceInfo& info() const override { return info_; }
    void begin(const std::string&) override {
        scale_ = pixel_scale(g.dev.imgw, g.dev.imgh);
        qqserr("No display available");
        warnin(101);
    }
    float scale() const override { return scale_; }
    void pen(float, float, PenOp) override {}
    bool box(float, float, float, float, int, Rgb) override { return true; }
    bool polygon(const float*, const float*, int) override { return true; }

  private:
    DeviceInfo info_;
    float scale_ = 1.0f;
};

} // namespace

std::unique_ptr<Driver> make_null_driver(const DeviceInfo& info, float scale, bool boxes) {
    return std::make_unique<Null>(info, scale, boxes);
}

std::unique_ptr<Driver> make_no_display_driver() {
    return std::make_unique<NoDisplay>();
}

} // namespace plotix::detail
