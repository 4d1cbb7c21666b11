// Curves: a polyline through points in user coordinates, clipped to the
// inside of the axis frame, in the current colour and line style.
#include <algorithm>
#include <cmath>
#include <string>

#include "axes/axes.h"
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

// A value of the out-of-scaling report: exponent form for magnitudes above
// 1.0E6 or below 1.0E-6 (zero excluded).
bool exponent_form(float v) {
    const float a = std::fabs(v);
    return a > 1.0e6f || (a < 1.0e-6f && v != 0.0f);
}

void report_outside(float x, float y) {
    std::string line = " <<<< (";
    line += exponent_form(x) ? fmt_exp(x, 12, 4) + " /" : fmt_fixed(x, 0, 6) + " /";
    line += exponent_form(y) ? fmt_exp(y, 12, 4) + ")" : " " + fmt_fixed(y, 0, 6) + ")";
    line += " out of axis scaling!\n";
    message_write(line);
}

bool outside(float v, const State::Axes::Scaling& s) {
    return v < s.min || v > s.max;
}

float limited(float v) {
    return std::clamp(v, -1.0e6f, 1.0e6f);
}

} // namespace

} // namespace plotix::detail

using namespace plotix::detail;

void plotix::curve(const float x[], const float y[], int n) {
    if (jqqlev(2, 3, "curve") != 0) return;
    if (n <= 1 || x == nullptr || y == nullptr) {
        warnin(2);
        return;
    }
    const int colour = g.colour.current;
    const State::LineStyle style = g.style;

    if (g.axes.check_scaling != 0 && g.msg.unit != 0) {
        for (int i = 0; i < n; ++i) {
            if (outside(x[i], g.axes.x) || outside(y[i], g.axes.y)) report_outside(x[i], y[i]);
        }
    }

    qqstrk();
    const State::Clip saved = g.clip;
    g.clip.xmin = std::max(g.clip.xmin, g.axes.clip_left);
    g.clip.ymin = std::max(g.clip.ymin, g.axes.clip_top);
    g.clip.xmax = std::min(g.clip.xmax, g.axes.clip_right);
    g.clip.ymax = std::min(g.clip.ymax, g.axes.clip_bottom);
    inityp();

    strtqq(limited(plot_x(x[0])), limited(plot_y(y[0])));
    for (int i = 1; i < n; ++i) connqq(limited(plot_x(x[i])), limited(plot_y(y[i])));

    qqstrk();
    g.clip = saved;
    ++g.axes.curves;

    // The colour and line style are set again (the colour reaches the driver
    // even when it did not change); the pattern starts afresh.
    qqclr(colour);
    g.style = style;
    inityp();
}
