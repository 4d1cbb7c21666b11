// Axis system set-up: position and length, the scaling check of graf, the
// mapping of user coordinates to plot units and the axis clipping window.
#include <algorithm>
#include <cmath>

#include "axes/axes.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"

namespace plotix::detail {

namespace {

constexpr float kPlotLimit = 1.0e6f; // converted coordinates stay within +-1.0E6

float limited(float v) {
    return std::clamp(v, -kPlotLimit, kPlotLimit);
}

// The integer part of v + 0.5, saturated to the int range.
int rounded(float v) {
    const double r = static_cast<double>(v) + 0.5;
    if (!(r > -2147483648.0)) return std::isnan(r) ? 0 : -2147483647 - 1;
    if (r >= 2147483647.0) return 2147483647;
    return static_cast<int>(r);
}

// The scaling check of one axis; every message is issued. Returns true when
// the scaling cannot be used.
bool scaling_error(float a, float e, float first, float step) {
    const float tiny = g.axes.tolerance;
    bool error = false;
    // Values that are not finite (or whose range is not) give no mapping.
    if (!std::isfinite(a) || !std::isfinite(e) || !std::isfinite(first) || !std::isfinite(step) ||
        !std::isfinite(e - a)) {
        warnin(2);
        return true;
    }
    if (std::fabs(e - a) < tiny) {
        warnin(10);
        error = true;
    }
    if (std::fabs(step) < tiny) {
        warnin(9);
        error = true;
    }
    if (a < e) {
        if (first < a || first > e) warnin(12);
        if (step < 0.0f) warnin(50);
    } else {
        if (first > a || first < e) warnin(12);
        if (step > 0.0f) warnin(50);
    }
    return error;
}

void store(State::Axes::Scaling& s, float a, float e, float first, float step, int length) {
    s.a = a;
    s.e = e;
    s.first = first;
    s.step = step;
    s.factor = static_cast<float>(length - 1) / (e - a);
    s.min = std::min(a, e);
    s.max = std::max(a, e);
}

// The inside of the frame, one plot unit in; on screens and raster images
// about one device pixel more.
void set_axis_clip() {
    State::Axes& ax = g.axes;
    int m = -1;
    const float scale = pixels_per_unit();
    if (scale > 0.0f && std::isfinite(scale)) {
        const double r = std::round(0.99 / static_cast<double>(scale));
        m = -1 - static_cast<int>(std::min(r, 1.0e6));
    }
    ax.clip_left = std::max(ax.xpos - m, 0);
    ax.clip_top = std::max(ax.ypos - ax.ylen - (m - 1), 0);
    ax.clip_right = std::min(ax.xpos + ax.xlen - 1 + m, g.page.width);
    ax.clip_bottom = std::min(ax.ypos + m, g.page.height);
}

} // namespace

void reset_axes() {
    State::Axes& ax = g.axes;
    const bool backwards = ax.backwards;
    ax = State::Axes{};
    ax.backwards = backwards;
    for (State::Axes::Axis& a : ax.axis) {
        a.label_dist = jqquni(24);
        a.name_dist = jqquni(30);
        a.long_tick = jqquni(24);
        a.short_tick = jqquni(16);
        a.name_height = jqquni(36);
    }
}

float plot_x(float x) {
    return g.axes.xorigin + (x - g.axes.x.a) * g.axes.x.factor;
}

float plot_y(float y) {
    return g.axes.yorigin - (y - g.axes.y.a) * g.axes.y.factor;
}

void trfrel(float* x, float* y, int n) {
    for (int i = 0; i < n; ++i) {
        x[i] = limited(plot_x(x[i]));
        y[i] = limited(plot_y(y[i]));
    }
}

} // namespace plotix::detail

using namespace plotix::detail;

void plotix::axspos(int nxa, int nya) {
    if (jqqlev(1, 1, "axspos") != 0) return;
    if (jqqval(nxa, 0, g.page.width) != 0) return;
    if (jqqval(nya, 0, g.page.height) != 0) return;
    g.axes.xpos = nxa;
    g.axes.ypos = jqqyvl(nya);
}

void plotix::axslen(int nxl, int nyl) {
    if (jqqlev(1, 1, "axslen") != 0) return;
    if (jqqval(nxl, 2, g.page.width) != 0) return;
    if (jqqval(nyl, 2, g.page.height) != 0) return;
    g.axes.xlen = nxl;
    g.axes.ylen = nyl;
}

void plotix::graf(float xa, float xe, float xor_, float xstep, float ya, float ye, float yor,
                  float ystep) {
    if (jqqlev(1, 1, "graf") != 0) return;
    g.life.level = 2;
    const bool xerror = scaling_error(xa, xe, xor_, xstep);
    const bool yerror = scaling_error(ya, ye, yor, ystep);
    if (xerror || yerror) {
        g.life.level = 1;
        return;
    }

    State::Axes& ax = g.axes;
    store(ax.x, xa, xe, xor_, xstep, ax.xlen);
    store(ax.y, ya, ye, yor, ystep, ax.ylen);
    ax.xorigin = static_cast<float>(ax.xpos);
    ax.yorigin = static_cast<float>(ax.ypos);
    set_axis_clip();

    qqaxis(Side::lower_x);
    qqaxis(Side::left_y);
    qqaxis(Side::upper_x);
    qqaxis(Side::right_y);
    qqfram(ax.xpos, ax.ypos - ax.ylen + 1, ax.xlen, ax.ylen, ax.frame);
}

float plotix::xposn(float x) {
    if (jqqlev(2, 3, "xposn") != 0) return 0.0f;
    return plot_x(x);
}

float plotix::yposn(float y) {
    if (jqqlev(2, 3, "yposn") != 0) return 0.0f;
    return plot_y(y);
}

int plotix::nxposn(float x) {
    if (jqqlev(2, 3, "nxposn") != 0) return 0;
    return rounded(plot_x(x));
}

int plotix::nyposn(float y) {
    if (jqqlev(2, 3, "nyposn") != 0) return 0;
    return rounded(plot_y(y));
}
