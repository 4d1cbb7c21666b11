// The vector pipeline: pen moves in plot units, the 100-point pen buffer,
// clipping and the dispatch of every vertex to the active driver.
#ifndef PLOTIX_PIPELINE_PIPELINE_H
#define PLOTIX_PIPELINE_PIPELINE_H

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

// Dispatch to the driver.
void xjdraw(float x, float y, int op);
void xjpoly(const float* x, const float* y, int n);
// Device coordinates of a page point for the active device (the transform of
// xjdraw); returns false for devices without vector output.
bool device_point(float x, float y, double& dx, double& dy);
// Hands a colour index to the driver and makes it current.
void qqsclr(int index);

} // namespace plotix::detail

#endif
