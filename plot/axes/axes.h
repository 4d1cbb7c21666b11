// Axis systems: the place and scaling of the axis system, the mapping of user
// coordinates to plot units, the drawing of axes, ticks, labels, names and
// the frame, shared by graf, curve, grid and the titles.
#ifndef PLOTIX_AXES_AXES_H
#define PLOTIX_AXES_AXES_H

namespace plotix::detail {

// Per-plot axis settings back at their defaults (resall); the axis position
// and lengths follow from defvar.
void reset_axes();

// User coordinates to plot units with the mapping stored by graf, unrounded
// (no level check).
float plot_x(float x);
float plot_y(float y);
// Converts n user points in place to plot units, each coordinate limited to
// -1.0E6 .. 1.0E6.
void trfrel(float* x, float* y, int n);

// One axis line as the tick and label routines see it: a horizontal x axis
// from (nx, ny) to the right or a vertical y axis from (nx, ny) upwards, nl
// plot units long, scaled from a to e with labels from first in steps of
// step.
struct AxisRun {
    bool xaxis = true;
    float a = 0.0f, e = 1.0f, first = 0.0f, step = 1.0f;
    int nl = 2;
    int nx = 0, ny = 0;
};

// Ticks: n ticks per label interval, long ones (length t2) at the labels and
// short ones (t1) between, covering the whole axis. An x tick runs from
// (column, ny) to (column, ny + t), a y tick from (nx, row) to (nx + t, row).
// The grid uses the same routine with lengths across the axis system.
void qqtick(const AxisRun& run, int t1, int t2, int n);

// The sides of the axis system in the order graf draws them.
enum class Side { lower_x, left_y, upper_x, right_y };
// Draws one side with the parts its side level allows.
void qqaxis(Side side);
// The frame around the rectangle (left, top, width, height), grown outwards
// by one plot unit per unit of thickness, always solid.
void qqfram(int left, int top, int width, int height, float thickness);

} // namespace plotix::detail

#endif
