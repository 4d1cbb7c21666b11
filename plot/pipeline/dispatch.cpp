#include <cmath>
#include <vector>

#include "core/format.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "pipeline/pipeline.h"

namespace plotix::detail {

namespace {

// The screen-type transform: device pixels from page plot units.
void screen_point(float x, float y, double& dx, double& dy) {
    const float s = g.dev.scale;
    if (g.page.swap == 1) {
        dx = rnd(y * s);
        dy = rnd((static_cast<float>(g.page.width) - x) * s);
    } else {
        dx = rnd(x * s);
        dy = rnd(y * s);
    }
}

} // namespace

bool device_point(float x, float y, double& dx, double& dy) {
    const int dev = g.out.device;
    const float s = g.dev.scale;
    const float w = static_cast<float>(g.page.width), h = static_cast<float>(g.page.height);
    const int swap = g.page.swap;
    if (dev <= 200 || dev == 221 || (dev >= 601 && dev <= 701)) {
        screen_point(x, y, dx, dy);
    } else if (dev == 201 || dev == 211) {
        dx = swap == 1 ? y * s : x * s;
        dy = swap == 1 ? x * s : (h - y) * s;
    } else if (dev >= 301 && dev <= 400) {
        dx = rnd(x * s);
        dy = rnd(y * s);
    } else if (dev == 401 || (dev >= 406 && dev <= 500)) {
        dx = swap == 1 ? rnd(y * s) : rnd(x * s);
        dy = swap == 1 ? rnd(x * s) : rnd((h - y) * s);
    } else if (dev >= 402 && dev <= 405) {
        if (w > h) {
            dx = rnd(x * s);
            dy = rnd((h - y) * s);
        } else {
            dx = rnd((h - y) * s);
            dy = rnd((w - x) * s);
        }
    } else if (dev >= 501 && dev <= 600) {
        if (w > h && swap != 2) {
            dx = y * s;
            dy = x * s;
        } else {
            dx = x * s;
            dy = (h - y) * s;
        }
    } else {
        return false;
    }
    return true;
}

void xjdraw(float x, float y, int op) {
    ++g.count.vectors;
    double dx = 0.0, dy = 0.0;
    if (!device_point(x, y, dx, dy)) return;
    if (g.dev.driver) g.dev.driver->vertex(dx, dy, op);
}

void xjpoly(const float* x, const float* y, int n) {
    if (n <= 0 || x == nullptr || y == nullptr || !g.dev.driver) return;
    std::vector<int> ix(static_cast<std::size_t>(n)), iy(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const float px = x[i] + static_cast<float>(g.pen.ox);
        const float py = y[i] + static_cast<float>(g.pen.oy);
        if (!std::isfinite(px) || !std::isfinite(py)) return; // the polygon is dropped
        double dx, dy;
        screen_point(px, py, dx, dy);
        ix[i] = static_cast<int>(dx);
        iy[i] = static_cast<int>(dy);
    }
    g.dev.driver->polygon(ix.data(), iy.data(), n);
}

} // namespace plotix::detail
