// Drivers that draw nothing: formats whose contents this library does not
// define (or whose writers it does not have yet), and screens when no display
// can be opened.
#include <algorithm>

#include "core/messages.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

class Null final : public Driver {
  public:
    explicit Null(float scale) : scale_(scale) {}
    void begin() override { g.dev.scale = scale_; }
    void vertex(double, double, int) override {}

  private:
    float scale_;
};

class NoDisplay final : public Driver {
  public:
    void begin() override {
        const int dev = g.out.device;
        g.dev.winnum = dev == 80 ? 1 : std::clamp(dev - 71, 1, 8);
        g.dev.scale = pixel_scale(g.dev.imgw, g.dev.imgh);
        qqserr("No display available");
        warnin(101);
    }
    void vertex(double, double, int) override {}
};

} // namespace

std::unique_ptr<Driver> make_null_driver(float scale) {
    return std::make_unique<Null>(scale);
}

std::unique_ptr<Driver> make_no_display_driver() {
    return std::make_unique<NoDisplay>();
}

} // namespace plotix::detail
