#include "drivers/setup.h"

#include <algorithm>

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

} // namespace plotix::detail
