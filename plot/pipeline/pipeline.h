// The vector pipeline: pen moves in plot units, the 100-point pen buffer,
// clipping and the dispatch of every vertex to the active driver.
#ifndef PLOTIX_PIPELINE_PIPELINE_H
#define PLOTIX_PIPELINE_PIPELINE_H

#include "drivers/driver.h"

namespace plotix::detail {

// Pen moves in page plot units.
void qqmove(float x, float y);
void qqdraw(float x, float y);
void qqstrk();
// Lines relative to the origin offset, with the current line style.
void strtqq(float x, float y);
void connqq(float x, float y);
void lineqq(int x1, int y1, int x2, int y2);
void xline(const float x[2], const float y[2]);

// Clipping.
int jqqclp(float x, float y);
int chkval(float x, float y, int& cx, int& cy, int xmin, int ymin, int xmax, int ymax);
float xcut(float x1, float y1, float x2, float y2, float yc);
float ycut(float x1, float y1, float x2, float y2, float xc);
void clip2d(float x1, float y1, float x2, float y2);
int cutcrc(float a, float b, float x1, float y1, float x2, float y2, float xs[2], float ys[2]);
float qqatan(float dy, float dx);

// Dispatch to the driver: one pen position in page plot units, counted as a
// vector.
void xjdraw(float x, float y, PenOp op);
// A solid polygon of n points relative to the origin offset, to the driver;
// false when the driver cannot fill it (nothing is drawn then).
bool xjpoly(const float* x, const float* y, int n);
// Hands a colour index to the driver and makes it current.
void qqsclr(int index);
// Makes index current after stroking pending lines; returns false (after
// warning 2) for an index outside 0..255.
bool qqclr(int index);
// The active driver and what it is (a driver that draws nothing while no
// plot is open).
Driver& active_driver();
const DeviceInfo& device();
// Device pixels per plot unit on the devices that draw whole pixels
// (screens and images), 0 on the others.
float pixels_per_unit();

} // namespace plotix::detail

#endif
