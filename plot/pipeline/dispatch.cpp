// The dispatch of pen positions, polygons and colours to the active driver.
#include <cmath>
#include <vector>

#include "core/colour.h"
#include "core/helpers.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "pipeline/pipeline.h"

namespace plotix::detail {

namespace {

// The driver while no plot is open: it takes everything and draws nothing.
struct Idle final : Driver {
    const DeviceInfo& info() const override { return info_; }
    void begin(const std::string&) override {}
    float scale() const override { return 1.0f; }
    void pen(float, float, PenOp) override {}
    bool box(float, float, float, float, int, Rgb) override { return true; }
    bool polygon(const float*, const float*, int) override { return true; }
    DeviceInfo info_;
};

} // namespace

Driver& active_driver() {
    static Idle idle;
    return g.dev.driver ? *g.dev.driver : idle;
}

const DeviceInfo& device() {
    return active_driver().info();
}

float pixels_per_unit() {
    const DeviceInfo::Kind k = device().kind;
    if (k != DeviceInfo::Kind::screen && k != DeviceInfo::Kind::raster) return 0.0f;
    return active_driver().scale();
}

void xjdraw(float x, float y, PenOp op) {
    ++g.count.vectors;
    active_driver().pen(x, y, op);
}

bool xjpoly(const float* x, const float* y, int n) {
    if (n <= 0 || x == nullptr || y == nullptr) return false;
    std::vector<float> px(static_cast<std::size_t>(n)), py(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        px[i] = x[i] + static_cast<float>(g.pen.ox);
        py[i] = y[i] + static_cast<float>(g.pen.oy);
        if (!std::isfinite(px[i]) || !std::isfinite(py[i])) return true; // the polygon is dropped
    }
    return active_driver().polygon(px.data(), py.data(), n);
}

void qqsclr(int index) {
    active_driver().colour(index, colour_entry(index));
    g.colour.current = index;
}

bool qqclr(int index) {
    if (jqqval(index, 0, 255) != 0) return false;
    qqstrk();
    qqsclr(index);
    return true;
}

} // namespace plotix::detail
