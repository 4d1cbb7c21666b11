// Pen moves: the pen buffer, stroking with the current line style, and the
// lines of the public routine line.
#include <cmath>

#include "core/helpers.h"
#include "core/state.h"
#include "pipeline/pipeline.h"
#include "plotix.h"

namespace plotix::detail {

namespace {

// Dashing of one segment is given up beyond this length (plot units): such a
// segment lies far off the page, and walking it element by element would not end.
constexpr float kDashLimit = 1.0e6f;

float element(int index) {
    int n = g.style.n < 1 ? 1 : (g.style.n > 10 ? 10 : g.style.n);
    if (index < 1 || index > n) index = 1;
    int v = g.style.pattern[index - 1];
    return v < 1 ? 1.0f : static_cast<float>(v);
}

void pen_to(float x, float y) {
    if (g.style.phase == 0) {
        qqdraw(x, y);
    } else {
        qqmove(x, y);
    }
}

} // namespace

void qqmove(float x, float y) {
    qqstrk();
    g.pen.x[0] = x;
    g.pen.y[0] = y;
    g.pen.n = 1;
}

void qqdraw(float x, float y) {
    int n = g.pen.n;
    if (n < 0 || n >= kPenMax) n = 0;
    g.pen.x[n] = x;
    g.pen.y[n] = y;
    g.pen.n = n + 1;
    if (g.pen.n == kPenMax) {
        qqstrk();
        g.pen.x[0] = g.pen.x[kPenMax - 1];
        g.pen.y[0] = g.pen.y[kPenMax - 1];
        g.pen.n = 1;
    }
}

void qqstrk() {
    int n = g.pen.n;
    if (n <= 0) return;
    if (n > kPenMax) n = kPenMax;
    bool inside = jqqclp(g.pen.x[0], g.pen.y[0]) == 0;
    if (inside) xjdraw(g.pen.x[0], g.pen.y[0], PenOp::move);
    for (int i = 1; i < n; ++i) {
        if (inside && jqqclp(g.pen.x[i], g.pen.y[i]) == 0) {
            xjdraw(g.pen.x[i], g.pen.y[i], PenOp::draw);
            continue;
        }
        inside = false;
        clip2d(g.pen.x[i - 1], g.pen.y[i - 1], g.pen.x[i], g.pen.y[i]);
    }
    // Wide lines (line width 2 or more) would add their outline here; the
    // line width is fixed at 1.
    g.pen.n = 0;
}

void strtqq(float x, float y) {
    g.pen.cx = x + static_cast<float>(g.pen.ox);
    g.pen.cy = y + static_cast<float>(g.pen.oy);
    if (g.pen.parallel == 0.0f) {
        qqmove(g.pen.cx, g.pen.cy);
    } else {
        g.pen.pending_move = 1;
    }
}

void connqq(float x, float y) {
    const float px = x + static_cast<float>(g.pen.ox);
    const float py = y + static_cast<float>(g.pen.oy);
    const bool solid = g.style.n <= 1;
    const float d = g.pen.parallel;
    if (solid && d == 0.0f) {
        g.pen.cx = px;
        g.pen.cy = py;
        qqdraw(px, py);
        return;
    }
    const float cx = g.pen.cx, cy = g.pen.cy;
    const double a = qqatan(cy - py, px - cx);
    const float sn = static_cast<float>(std::sin(a));
    const float cs = static_cast<float>(std::cos(a));
    float len = (py == cy) ? std::fabs(px - cx) : std::fabs((cy - py) / sn);

    float sx = cx, sy = cy, ex = px, ey = py;
    bool done = false;
    if (d != 0.0f) {
        sx -= sn * d;
        sy -= cs * d;
        ex -= sn * d;
        ey -= cs * d;
        if (g.pen.pending_move != 0) {
            qqmove(sx, sy);
            g.pen.pending_move = 0;
        } else {
            pen_to(sx, sy);
        }
        if (solid) {
            qqdraw(ex, ey);
            done = true;
        }
    }
    if (!done) {
        float curx = sx, cury = sy;
        float rem = g.style.remaining;
        if (!(rem > 0.0f)) rem = element(g.style.index);
        if (std::isfinite(len) && len <= kDashLimit) {
            while (len >= rem) {
                curx += cs * rem;
                cury -= sn * rem;
                pen_to(curx, cury);
                int n = g.style.n < 1 ? 1 : (g.style.n > 10 ? 10 : g.style.n);
                g.style.index = g.style.index >= n ? 1 : g.style.index + 1;
                g.style.phase = 1 - g.style.phase;
                len -= rem;
                rem = element(g.style.index);
            }
            pen_to(ex, ey);
            rem -= len;
        } else {
            qqmove(ex, ey);
        }
        g.style.remaining = rem;
    }
    g.pen.cx = ex + sn * d;
    g.pen.cy = ey + cs * d;
}

void lineqq(int x1, int y1, int x2, int y2) {
    strtqq(static_cast<float>(x1), static_cast<float>(y1));
    connqq(static_cast<float>(x2), static_cast<float>(y2));
}

void xline(const float x[2], const float y[2]) {
    qqmove(x[0], y[0]);
    qqdraw(x[1], y[1]);
}

} // namespace plotix::detail

void plotix::line(int nx1, int ny1, int nx2, int ny2) {
    using namespace plotix::detail;
    if (jqqlev(1, 3, "line") != 0) return;
    lineqq(nx1, jqqyvl(ny1), nx2, jqqyvl(ny2));
}
