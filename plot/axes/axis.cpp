// The four sides of an axis system: axis line, ticks, numeric labels and
// axis name, the frame, and the setters ticks and name.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "axes/axes.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"
#include "text/text.h"

namespace plotix::detail {

namespace {

// More ticks or labels than this on one axis would be solid ink on any page;
// such a scaling (a tiny step against a wide range) draws none of them.
constexpr float kMarkLimit = 100000.0f;

// The integer part of v, kept within the range of plot coordinates.
int whole(float v) {
    if (std::isnan(v)) return 0;
    return static_cast<int>(std::clamp(v, -1.0e9f, 1.0e9f));
}

// The index range of marks: the integer part of q, or false when it is not
// finite or too large.
bool mark_index(float q, int& i) {
    if (!std::isfinite(q) || std::fabs(q) > kMarkLimit) return false;
    i = static_cast<int>(q);
    return true;
}

// Parts of a side (its side level) and the direction in which its ticks,
// labels and name point: +1 down or right, -1 up or left.
struct SideLook {
    AxisRun run;
    int axis = 0; // 0 x, 1 y
    bool labels = false, name = false;
    int sign = 1;
};

SideLook look_of(Side side) {
    const State::Axes& ax = g.axes;
    SideLook s;
    const bool xaxis = side == Side::lower_x || side == Side::upper_x;
    const State::Axes::Scaling& sc = xaxis ? ax.x : ax.y;
    s.axis = xaxis ? 0 : 1;
    s.run.xaxis = xaxis;
    s.run.a = sc.a;
    s.run.e = sc.e;
    s.run.first = sc.first;
    s.run.step = sc.step;
    s.run.nl = xaxis ? ax.xlen : ax.ylen;
    s.run.nx = side == Side::right_y ? ax.xpos + ax.xlen - 1 : ax.xpos;
    s.run.ny = side == Side::upper_x ? ax.ypos - ax.ylen + 1 : ax.ypos;
    s.labels = s.name = side == Side::lower_x || side == Side::left_y;
    s.sign = side == Side::lower_x || side == Side::right_y ? 1 : -1;
    return s;
}

// Labels of a side; returns their extent E (label height for an x axis,
// widest label for a y axis).
int qqlabl(const SideLook& s, const State::Axes::Axis& set) {
    const AxisRun& r = s.run;
    const int h = g.text.height;
    // The extent of an x axis is the label height even when no label falls
    // on the axis (a first label beyond its end).
    const int none = r.xaxis ? h : 0;
    int k = 0;
    if (!mark_index((r.e - r.first) / r.step + 0.0001f, k) || k < 0) return none;
    const int dist = s.sign * (set.label_dist + (set.ticks != 0 ? set.long_tick : 0));
    const float f = static_cast<float>(r.nl - 1) / (r.e - r.a);

    std::vector<float> values;
    std::vector<std::string> texts;
    values.reserve(static_cast<std::size_t>(k) + 1);
    texts.reserve(static_cast<std::size_t>(k) + 1);
    for (int i = 0; i <= k; ++i) {
        const float v = static_cast<float>(i) * r.step + r.first;
        std::string text;
        plotix::fcha(v, set.digits, text);
        values.push_back(v);
        texts.push_back(std::move(text));
    }

    if (r.xaxis) {
        const int y = r.ny + dist;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const float w = static_cast<float>(plotix::nlmess(texts[i]));
            const int x = whole(static_cast<float>(r.nx) + 0.5f + (values[i] - r.a) * f - w / 2.0f);
            dtext(texts[i], x, y, 0, h);
        }
        return h;
    }
    int widest = 0;
    for (const std::string& t : texts) widest = std::max(widest, plotix::nlmess(t));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const int w = plotix::nlmess(texts[i]);
        const int y = whole(static_cast<float>(r.ny) - 0.5f - (values[i] - r.a) * f -
                            static_cast<float>(h) / 2.0f);
        const int x = s.sign < 0 ? r.nx + dist - w : r.nx + dist;
        dtext(texts[i], x, y, 0, h);
    }
    return widest;
}

// The axis name, centred on the axis beyond the labels.
void qqname(const SideLook& s, const State::Axes::Axis& set, int extent) {
    if (trmlen(set.name) == 0) return;
    const AxisRun& r = s.run;
    const int gap =
        s.sign * (set.name_dist + (set.ticks != 0 ? set.long_tick : 0) + set.label_dist);
    const int hn = set.name_height;
    const int saved = g.text.height;
    set_height(hn);
    const int len = plotix::nlmess(set.name);
    set_height(saved);
    const int c = (r.nl - len) / 2;
    if (r.xaxis) {
        const int y = s.sign > 0 ? r.ny + gap + extent : r.ny + gap - extent - hn;
        dtext(set.name, r.nx + c, y, 0, hn);
    } else {
        const int x = s.sign < 0 ? r.nx + gap - extent - hn : r.nx + gap + extent;
        dtext(set.name, x, r.ny - c, 90, hn);
    }
}

} // namespace

void qqtick(const AxisRun& r, int t1, int t2, int n) {
    if (n <= 0) return;
    const float d = r.step / static_cast<float>(n);
    const float f = static_cast<float>(r.nl - 1) / (r.e - r.a);
    int i1 = 0, i2 = 0;
    if (!mark_index((r.first - r.a) / d + 0.0001f, i1)) return;
    if (!mark_index((r.e - r.first) / d + 0.0001f, i2)) return;
    if (!std::isfinite(f)) return;
    const float b = r.xaxis ? static_cast<float>(r.nx) + 0.5f + (r.first - r.a) * f
                            : static_cast<float>(r.ny) + 0.5f - (r.first - r.a) * f;
    // Marks closer than a plot unit fall on the same row or column: each
    // distinct mark is drawn once (a dense grid would otherwise draw the
    // same line thousands of times).
    int last_at = 0, last_t = 0;
    bool any = false;
    for (int i = -i1; i <= i2; ++i) {
        const int t = i % n == 0 ? t2 : t1;
        const float at = static_cast<float>(i) * f * d;
        int x1, y1, x2, y2;
        if (r.xaxis) {
            x1 = x2 = whole(b + at);
            y1 = r.ny;
            y2 = r.ny + t;
        } else {
            y1 = y2 = whole(b - at);
            x1 = r.nx;
            x2 = r.nx + t;
        }
        const int here = r.xaxis ? x1 : y1;
        if (any && here == last_at && t == last_t) continue;
        any = true;
        last_at = here;
        last_t = t;
        if (g.axes.backwards) {
            lineqq(x2, y2, x1, y1);
        } else {
            lineqq(x1, y1, x2, y2);
        }
        g.axes.backwards = !g.axes.backwards;
    }
}

void qqaxis(Side side) {
    const SideLook s = look_of(side);
    // The side sees its own copy of the settings with the lengths signed; the
    // stored settings stay as they are.
    const State::Axes::Axis& set = g.axes.axis[s.axis];
    const AxisRun& r = s.run;
    if (r.xaxis) {
        lineqq(r.nx, r.ny, r.nx + r.nl - 1, r.ny);
    } else {
        lineqq(r.nx, r.ny, r.nx, r.ny - r.nl + 1);
    }
    qqtick(r, s.sign * set.short_tick, s.sign * set.long_tick, set.ticks);
    const int extent = s.labels ? qqlabl(s, set) : 0;
    if (s.name) qqname(s, set, extent);
}

void qqfram(int left, int top, int width, int height, float thickness) {
    double t = std::trunc(static_cast<double>(thickness) * g.page.unitdiv + 0.5);
    if (!(t >= 1.0)) t = 1.0;
    const int n = static_cast<int>(std::min(t, 1000.0));
    for (int k = 0; k < n; ++k) {
        const auto l = static_cast<float>(left - k), tp = static_cast<float>(top - k);
        const auto r = static_cast<float>(left + width - 1 + k);
        const auto b = static_cast<float>(top + height - 1 + k);
        qqmove(l, tp);
        qqdraw(r, tp);
        qqdraw(r, b);
        qqdraw(l, b);
        qqdraw(l, tp);
    }
}

} // namespace plotix::detail

using namespace plotix::detail;

namespace {

// The axes (0 x, 1 y, 2 z) named among the first three characters.
template <typename Fn> void for_axes(std::string_view axes, Fn fn) {
    std::string sel;
    qqcopy(sel, axes, 3);
    upstr(sel);
    for (int i = 0; i < 3; ++i) {
        if (sel.find("XYZ"[i]) != std::string::npos) fn(g.axes.axis[i]);
    }
}

} // namespace

void plotix::ticks(int n, std::string_view axes) {
    chkini("ticks");
    if (jqqval(n, 0, 1000) != 0) return;
    for_axes(axes, [n](State::Axes::Axis& a) { a.ticks = n; });
}

void plotix::labdig(int ndig, std::string_view axes) {
    chkini("labdig");
    if (jqqval(ndig, -1, 20) != 0) return;
    for_axes(axes, [ndig](State::Axes::Axis& a) { a.digits = ndig; });
}

void plotix::name(std::string_view text, std::string_view axes) {
    chkini("name");
    std::string t;
    qqcopy(t, text, 132);
    for_axes(axes, [&t](State::Axes::Axis& a) { a.name = t; });
}
