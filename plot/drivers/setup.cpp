// Device set-up shared by the drivers: the user scale, the page as the
// devices take it and the layouts of page points on device units.
#include "drivers/setup.h"

#include <algorithm>

#include "core/format.h"
#include "core/state.h"

namespace plotix::detail {

float setup_p() {
    return g.page.userscale * g.page.unitdiv;
}

void oriented_page(float& w, float& h) {
    w = static_cast<float>(g.page.width);
    h = static_cast<float>(g.page.height);
    if (g.page.swap == 1) std::swap(w, h);
}

float pixel_scale(int wp, int hp) {
    float w, h;
    oriented_page(w, h);
    float s = std::min(static_cast<float>(wp - 1) / w, static_cast<float>(hp - 1) / h);
    if (g.page.nolimit != 0) return s;
    const float p = setup_p();
    const float limit =
        w > h ? p * static_cast<float>(wp - 1) / 2969.0f : p * static_cast<float>(hp - 1) / 2969.0f;
    return std::min(s, limit);
}

bool postscript_landscape() {
    return g.page.width > g.page.height && g.page.swap != 2;
}

void page_to_device(Layout layout, float s, float x, float y, double& dx, double& dy) {
    const float w = static_cast<float>(g.page.width), h = static_cast<float>(g.page.height);
    const int swap = g.page.swap;
    switch (layout) {
    case Layout::pixels:
        if (swap == 1) {
            dx = rnd(y * s);
            dy = rnd((w - x) * s);
        } else {
            dx = rnd(x * s);
            dy = rnd(y * s);
        }
        break;
    case Layout::metafile:
        dx = swap == 1 ? y * s : x * s;
        dy = swap == 1 ? x * s : (h - y) * s;
        break;
    case Layout::printer:
        dx = rnd(x * s);
        dy = rnd(y * s);
        break;
    case Layout::plotter:
        dx = swap == 1 ? rnd(y * s) : rnd(x * s);
        dy = swap == 1 ? rnd(x * s) : rnd((h - y) * s);
        break;
    case Layout::sheet:
        if (w > h) {
            dx = rnd(x * s);
            dy = rnd((h - y) * s);
        } else {
            dx = rnd((h - y) * s);
            dy = rnd((w - x) * s);
        }
        break;
    case Layout::postscript:
        if (w > h && swap != 2) {
            dx = y * s;
            dy = x * s;
        } else {
            dx = x * s;
            dy = (h - y) * s;
        }
        break;
    }
}

void pixel_box(double s, float x1, float y1, float x2, float y2, double out[4]) {
    if (g.page.swap == 1) {
        const double w = g.page.width;
        out[0] = y1 * s;
        out[1] = (w - x2) * s;
        out[2] = y2 * s;
        out[3] = (w - x1) * s;
    } else {
        out[0] = x1 * s;
        out[1] = y1 * s;
        out[2] = x2 * s;
        out[3] = y2 * s;
    }
}

void postscript_box(double s, float x1, float y1, float x2, float y2, double out[4]) {
    const double h = g.page.height;
    if (postscript_landscape()) {
        out[0] = y1 * s;
        out[1] = x1 * s;
        out[2] = y2 * s;
        out[3] = x2 * s;
    } else {
        out[0] = x1 * s;
        out[1] = (h - y2) * s;
        out[2] = x2 * s;
        out[3] = (h - y1) * s;
    }
}

} // namespace plotix::detail
