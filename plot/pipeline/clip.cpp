// Clipping of line segments to the rectangular or circular window, and the
// intersection helpers of the clipping and the fills.
#include <cmath>

#include "core/state.h"
#include "pipeline/pipeline.h"

namespace plotix::detail {

namespace {

// A segment that still has a point outside after this many clipping steps is
// dropped (rounding can make the steps alternate between two bounds).
constexpr int kClipSteps = 16;

bool finite4(float a, float b, float c, float d) {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d);
}

void send(float x1, float y1, float x2, float y2, bool moved) {
    if (moved) xjdraw(x1, y1, PenOp::move);
    xjdraw(x2, y2, PenOp::draw);
}

float dist(float x, float y) {
    return static_cast<float>(
        std::hypot(static_cast<double>(x) - g.clip.cx, static_cast<double>(y) - g.clip.cy));
}

void clip_circle(float x1, float y1, float x2, float y2) {
    const float r = g.clip.r;
    const float d1 = dist(x1, y1), d2 = dist(x2, y2);
    if (d1 <= r && d2 <= r) {
        send(x1, y1, x2, y2, false);
        return;
    }
    if (std::fabs(x1 - x2) + std::fabs(y1 - y2) < 0.1f) return;
    if ((d1 <= r) != (d2 <= r)) {
        const bool first_inside = d1 <= r;
        float ix = first_inside ? x1 : x2, iy = first_inside ? y1 : y2;
        float ox = first_inside ? x2 : x1, oy = first_inside ? y2 : y1;
        float mx = ix, my = iy;
        for (int k = 0; k < 20; ++k) {
            mx = (ix + ox) / 2.0f;
            my = (iy + oy) / 2.0f;
            float dm = dist(mx, my);
            if (std::fabs(dm - r) < 0.1f) break;
            bool in = first_inside ? dm <= r : dm < r;
            if (in) {
                ix = mx;
                iy = my;
            } else {
                ox = mx;
                oy = my;
            }
        }
        if (first_inside) {
            send(x1, y1, mx, my, false);
        } else {
            send(mx, my, x2, y2, true);
        }
        return;
    }
    float xs[2], ys[2];
    const float cx = g.clip.cx, cy = g.clip.cy;
    if (cutcrc(r, r, x1 - cx, y1 - cy, x2 - cx, y2 - cy, xs, ys) < 2) return;
    const float lox = std::fmin(x1, x2), hix = std::fmax(x1, x2);
    const float loy = std::fmin(y1, y2), hiy = std::fmax(y1, y2);
    for (int i = 0; i < 2; ++i) {
        float px = xs[i] + cx, py = ys[i] + cy;
        if (!(px >= lox && px <= hix && py >= loy && py <= hiy)) return;
    }
    send(xs[0] + cx, ys[0] + cy, xs[1] + cx, ys[1] + cy, true);
}

} // namespace

int jqqclp(float x, float y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return 1;
    if (g.clip.circular != 0) return dist(x, y) > g.clip.r ? 1 : 0;
    if (x < static_cast<float>(g.clip.xmin)) return 1;
    if (x > static_cast<float>(g.clip.xmax)) return 1;
    if (y < static_cast<float>(g.clip.ymin)) return 1;
    if (y > static_cast<float>(g.clip.ymax)) return 1;
    return 0;
}

int chkval(float x, float y, int& cx, int& cy, int xmin, int ymin, int xmax, int ymax) {
    cx = x < static_cast<float>(xmin) ? 1 : (x > static_cast<float>(xmax) ? 3 : 2);
    cy = y < static_cast<float>(ymin) ? 1 : (y > static_cast<float>(ymax) ? 3 : 2);
    return (cx != 2 ? 1 : 0) + (cy != 2 ? 1 : 0);
}

float xcut(float x1, float y1, float x2, float y2, float yc) {
    if (std::fabs(y1 - y2) < g.clip.tol) return x1;
    return x1 + (yc - y1) * (x2 - x1) / (y2 - y1);
}

float ycut(float x1, float y1, float x2, float y2, float xc) {
    if (std::fabs(x2 - x1) < g.clip.tol) return y1;
    return y1 + (xc - x1) * (y2 - y1) / (x2 - x1);
}

void clip2d(float x1, float y1, float x2, float y2) {
    if (!finite4(x1, y1, x2, y2)) return;
    if (g.clip.circular != 0) {
        clip_circle(x1, y1, x2, y2);
        return;
    }
    const int xmin = g.clip.xmin, ymin = g.clip.ymin, xmax = g.clip.xmax, ymax = g.clip.ymax;
    bool moved = false;
    for (int step = 0;; ++step) {
        int c1x, c1y, c2x, c2y;
        int r1 = chkval(x1, y1, c1x, c1y, xmin, ymin, xmax, ymax);
        int r2 = chkval(x2, y2, c2x, c2y, xmin, ymin, xmax, ymax);
        if (r1 == 0 && r2 == 0) break;
        if ((c1x == c2x && c1x != 2) || (c1y == c2y && c1y != 2)) return;
        if (step >= kClipSteps) return;
        const bool first_inside = r1 == 0;
        const int wx = first_inside ? c2x : c1x;
        const int wy = first_inside ? c2y : c1y;
        if (!first_inside) moved = true;
        float nx, ny;
        if (wx == 1 || wx == 3) {
            nx = static_cast<float>(wx == 1 ? xmin : xmax);
            ny = ycut(x1, y1, x2, y2, nx);
        } else {
            ny = static_cast<float>(wy == 1 ? ymin : ymax);
            nx = xcut(x1, y1, x2, y2, ny);
        }
        if (!std::isfinite(nx) || !std::isfinite(ny)) return;
        if (first_inside) {
            x2 = nx;
            y2 = ny;
        } else {
            x1 = nx;
            y1 = ny;
        }
    }
    send(x1, y1, x2, y2, moved);
}

int cutcrc(float a, float b, float x1, float y1, float x2, float y2, float xs[2], float ys[2]) {
    const double da = a, db = b;
    if (std::fabs(x1 - x2) < 0.1f) {
        double t = db * db * (1.0 - static_cast<double>(x1) * x1 / (da * da));
        if (!(t >= 0.0) || !std::isfinite(t)) return 0;
        double st = std::sqrt(t);
        xs[0] = xs[1] = x1;
        ys[0] = static_cast<float>(st);
        ys[1] = static_cast<float>(-st);
        return t != 0.0 ? 2 : 1;
    }
    const double m = (static_cast<double>(y2) - y1) / (static_cast<double>(x2) - x1);
    const double q = y1 - m * x1;
    const double u = db * db + da * da * m * m;
    const double v = da * da * m * q / u;
    const double disc = v * v - (da * da * q * q - da * da * db * db) / u;
    if (!(disc >= 0.0) || !std::isfinite(disc)) return 0;
    const double sd = std::sqrt(disc);
    const double xa = -v + sd, xb = -v - sd;
    xs[0] = static_cast<float>(xa);
    ys[0] = static_cast<float>(q + m * xa);
    xs[1] = static_cast<float>(xb);
    ys[1] = static_cast<float>(q + m * xb);
    return disc != 0.0 ? 2 : 1;
}

float qqatan(float dy, float dx) {
    if (std::fabs(dx) <= 1.0e-6f) return dy < 0.0f ? -1.570796f : 1.570796f;
    return static_cast<float>(std::atan2(static_cast<double>(dy), static_cast<double>(dx)));
}

} // namespace plotix::detail
