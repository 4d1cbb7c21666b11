// Area fill: boxes in one colour, polygons filled solid through the driver or
// hatched with the current shading pattern, and the shading patterns.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "core/colour.h"
#include "core/format.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "pipeline/style.h"
#include "plotix.h"

namespace plotix::detail {

namespace {

// Predefined shading patterns: angle * 1000 + type * 100 + density * 10 + cross.
constexpr int kPatterns[18] = {0,     45150, 150450, 135150, 45450, 45151, 135210, 45451, 30140,
                               45211, 151,   45310,  70470,  45311, 451,   45210,  100,   550};

// Polygons with more vertices than this are refused as too large for the
// work space.
constexpr int kMaxPolygon = 1 << 22;
// Hatch lines per pass are limited to this many.
constexpr long kMaxHatchLines = 1000000;

float unit_divisor() {
    const float div = g.page.unitdiv;
    return (div > 0.0f && std::isfinite(div)) ? div : 1.0f;
}

// Devices without boxes (metafiles, plotters) get a zig-zag of horizontal
// lines.
void zigzag_box(float x1, float y1, float x2, float y2) {
    double d = 1.4 / unit_divisor();
    if ((y2 - y1) / d > 1.0e6) d = (y2 - y1) / 1.0e6;
    xjdraw(x1, y1, PenOp::move);
    xjdraw(x2, y1, PenOp::draw);
    float side = x2, other = x1;
    for (long k = 1;; ++k) {
        const float y = static_cast<float>(y1 + k * d);
        if (y > y2) break;
        xjdraw(side, y, PenOp::draw);
        xjdraw(other, y, PenOp::draw);
        std::swap(side, other);
    }
}

// A solid fill by the device: pattern 16, a rectangular clipping window and
// the whole polygon inside it.
bool solid_fill_possible(const float* x, const float* y, int n) {
    if (device().polygons == DeviceInfo::Polygons::hatched) return false;
    if (g.fill.pattern != 16 || g.clip.circular != 0) return false;
    for (int i = 0; i < n; ++i) {
        const float px = x[i] + static_cast<float>(g.pen.ox);
        const float py = y[i] + static_cast<float>(g.pen.oy);
        if (!(px >= static_cast<float>(g.clip.xmin) && px <= static_cast<float>(g.clip.xmax) &&
              py >= static_cast<float>(g.clip.ymin) && py <= static_cast<float>(g.clip.ymax))) {
            return false;
        }
    }
    return true;
}

// The polygon filled by the device; false when it could not.
bool solid_fill(const float* x, const float* y, int n) {
    qqstrk();
    if (device().polygons == DeviceInfo::Polygons::path) {
        // The outline as pen positions, closed and filled by the fill operation.
        const float ox = static_cast<float>(g.pen.ox), oy = static_cast<float>(g.pen.oy);
        xjdraw(x[0] + ox, y[0] + oy, PenOp::move);
        for (int i = 1; i < n; ++i) xjdraw(x[i] + ox, y[i] + oy, PenOp::draw);
        xjdraw(0.0f, 0.0f, PenOp::fill);
        return true;
    }
    return xjpoly(x, y, n);
}

// One hatch pass at angle degrees (counter-clockwise as seen on the page):
// the polygon is turned so that the hatch lines run along u, cut with the
// lines v = k * distance, and the inside spans (even-odd rule, edges
// half-open in v so that a vertex counts once) are drawn turned back.
void hatch_pass(const float* x, const float* y, int n, int angle, std::vector<float>& cuts) {
    const double a = angle * 3.14159265358979323846 / 180.0;
    double cs = std::cos(a), sn = std::sin(a);
    if (angle % 90 == 0) { // exact, so that lines along the axes stay on them
        cs = std::round(cs);
        sn = std::round(sn);
    }
    auto to_u = [&](double px, double py) { return px * cs - py * sn; };
    auto to_v = [&](double px, double py) { return px * sn + py * cs; };

    double vmin = HUGE_VAL, vmax = -HUGE_VAL;
    for (int i = 0; i < n; ++i) {
        const double v = to_v(x[i], y[i]);
        vmin = std::min(vmin, v);
        vmax = std::max(vmax, v);
    }
    // Lines outside the clipping window would be clipped away: the window,
    // turned the same way, bounds the lines and the spans.
    const double wx[4] = {double(g.clip.xmin), double(g.clip.xmax), double(g.clip.xmax),
                          double(g.clip.xmin)};
    const double wy[4] = {double(g.clip.ymin), double(g.clip.ymin), double(g.clip.ymax),
                          double(g.clip.ymax)};
    double wumin = HUGE_VAL, wumax = -HUGE_VAL, wvmin = HUGE_VAL, wvmax = -HUGE_VAL;
    for (int i = 0; i < 4; ++i) {
        const double px = wx[i] - g.pen.ox, py = wy[i] - g.pen.oy;
        wumin = std::min(wumin, to_u(px, py));
        wumax = std::max(wumax, to_u(px, py));
        wvmin = std::min(wvmin, to_v(px, py));
        wvmax = std::max(wvmax, to_v(px, py));
    }
    vmin = std::max(vmin, wvmin);
    vmax = std::min(vmax, wvmax);
    const double dist = g.fill.distance;
    if (!(vmin <= vmax) || !(dist > 0.0) || !std::isfinite(dist)) return;
    const double kfirst = std::ceil(vmin / dist), klast = std::floor(vmax / dist);
    if (!(klast - kfirst < kMaxHatchLines)) return;

    const bool every = g.fill.type == 1 || g.fill.type == 5;
    const long period = static_cast<long>(g.fill.group_on) + g.fill.group_off;
    for (double kd = kfirst; kd <= klast; kd += 1.0) {
        const long k = static_cast<long>(kd);
        if (!every && period > 0 && ((k % period) + period) % period >= g.fill.group_on) {
            continue;
        }
        const double v = kd * dist;
        cuts.clear();
        for (int i = 0; i < n; ++i) {
            const int j = i + 1 == n ? 0 : i + 1;
            const double vi = to_v(x[i], y[i]), vj = to_v(x[j], y[j]);
            if ((vi <= v && v < vj) || (vj <= v && v < vi)) {
                const double ui = to_u(x[i], y[i]), uj = to_u(x[j], y[j]);
                cuts.push_back(static_cast<float>(ui + (v - vi) * (uj - ui) / (vj - vi)));
            }
        }
        std::sort(cuts.begin(), cuts.end());
        for (std::size_t c = 0; c + 1 < cuts.size(); c += 2) {
            const double u1 = std::max<double>(cuts[c], wumin);
            const double u2 = std::min<double>(cuts[c + 1], wumax);
            if (u1 > u2) continue;
            strtqq(static_cast<float>(u1 * cs + v * sn), static_cast<float>(-u1 * sn + v * cs));
            connqq(static_cast<float>(u2 * cs + v * sn), static_cast<float>(-u2 * sn + v * cs));
        }
    }
}

void hatch_fill(const float* x, const float* y, int n) {
    std::vector<float> cuts;
    try {
        cuts.reserve(static_cast<std::size_t>(n) + 130);
    } catch (const std::bad_alloc&) {
        warnin(53);
        return;
    }
    const State::LineStyle saved = g.style;
    const int type = g.fill.type;
    qqltyp(type == 5 ? 6 : type == 6 ? 5 : type == 7 ? 4 : 0);
    const int angle = g.fill.angle;
    hatch_pass(x, y, n, angle, cuts);
    if (g.fill.cross != 0) {
        // The crossing lines: angle + 90 below 90 degrees, else the mirror
        // 180 - angle; at exactly 90 that would repeat the first pass, so the
        // horizontal lines cross the vertical ones instead.
        int second = angle < 90 ? angle + 90 : 180 - angle;
        if (angle == 90) second = 0;
        hatch_pass(x, y, n, second, cuts);
    }
    g.style = saved;
}

} // namespace

void dbox(float x1, float y1, float x2, float y2, int clr) {
    const float ox = static_cast<float>(g.pen.ox), oy = static_cast<float>(g.pen.oy);
    x1 += ox;
    y1 += oy;
    x2 += ox;
    y2 += oy;
    if (std::isnan(x1) || std::isnan(y1) || std::isnan(x2) || std::isnan(y2)) return;
    x1 = std::max(x1, static_cast<float>(g.clip.xmin));
    y1 = std::max(y1, static_cast<float>(g.clip.ymin));
    x2 = std::min(x2, static_cast<float>(g.clip.xmax));
    y2 = std::min(y2, static_cast<float>(g.clip.ymax));
    if (x1 > x2 || y1 > y2) return;

    if (device().lines_before_boxes) qqstrk();
    if (active_driver().box(x1, y1, x2, y2, clr, colour_entry(clr))) return;
    // The zig-zag is drawn in the box's colour, chosen as setclr chooses it.
    if (jqqlev(1, 3, "setclr") == 0) qqclr(clr);
    zigzag_box(x1, y1, x2, y2);
}

void arealx(const float* x, const float* y, int n) {
    if (n <= 0) return;
    strtqq(x[0], y[0]);
    for (int i = 1; i < n; ++i) connqq(x[i], y[i]);
    connqq(x[0], y[0]);
}

void dareaf(const float* x, const float* y, int n) {
    if (n < 3 || x == nullptr || y == nullptr) return;
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i])) return;
    }
    if (solid_fill_possible(x, y, n) && solid_fill(x, y, n)) return;
    hatch_fill(x, y, n);
}

bool qqmypt(int angle, int type, int density, int cross) {
    int bad = jqqval(angle, 0, 179);
    bad += jqqval(cross, 0, 1);
    bad += jqqval(type, 0, 7);
    bad += jqqval(density, 0, 9);
    if (bad != 0) return false;
    float dist = 5.0f * density + 1.9999f;
    switch (type) {
    case 2:
        dist = 20.0f;
        g.fill.group_on = 2;
        g.fill.group_off = static_cast<int>(density + 0.9999);
        break;
    case 3:
        dist = 15.0f;
        g.fill.group_on = 3;
        g.fill.group_off = static_cast<int>(density + 0.9999);
        break;
    case 4:
        dist = 1.0f;
        g.fill.group_on = 8;
        g.fill.group_off = static_cast<int>(5.0 * density + 4.9999);
        break;
    default:
        if (device().fine_solid_hatch && density == 0) dist = 0.39999f;
        break;
    }
    g.fill.distance = dist / unit_divisor();
    g.fill.angle = angle;
    g.fill.type = type;
    g.fill.density = density;
    g.fill.cross = cross;
    g.fill.pattern = angle * 1000 + type * 100 + density * 10 + cross;
    return true;
}

bool qqshdp(int n) {
    if (n < 0) {
        warni1(2, n);
        return false;
    }
    const int code = n <= 17 ? kPatterns[n] : n;
    if (!qqmypt(code / 1000, (code % 1000) / 100, (code % 100) / 10, code % 2)) return false;
    g.fill.pattern = n;
    return true;
}

} // namespace plotix::detail

using namespace plotix::detail;

void plotix::areaf(const int x[], const int y[], int n) {
    if (jqqlev(1, 3, "areaf") != 0) return;
    if (n < 3 || x == nullptr || y == nullptr) {
        warni1(2, n);
        return;
    }
    if (n > kMaxPolygon) {
        warnin(53);
        return;
    }
    std::vector<float> fx, fy;
    try {
        fx.resize(static_cast<std::size_t>(n));
        fy.resize(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        warnin(53);
        return;
    }
    for (int i = 0; i < n; ++i) {
        fx[i] = static_cast<float>(x[i]);
        fy[i] = static_cast<float>(jqqyvl(y[i]));
    }
    if (g.fill.outline == 1) arealx(fx.data(), fy.data(), n);
    if (g.fill.type != 0) dareaf(fx.data(), fy.data(), n);
}

void plotix::shdpat(int n) {
    if (jqqlev(1, 3, "shdpat") != 0) return;
    qqshdp(n);
}

void plotix::mypat(int angle, int type, int density, int cross) {
    if (jqqlev(1, 3, "mypat") != 0) return;
    qqmypt(angle, type, density, cross);
}
