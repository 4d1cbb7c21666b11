// Line styles and area fill inside the library.
#ifndef PLOTIX_PIPELINE_STYLE_H
#define PLOTIX_PIPELINE_STYLE_H

namespace plotix::detail {

// Chooses predefined style 0..7 (lintyp without the level check); returns
// false after warning 2 for another number.
bool qqltyp(int n);
// User pattern of n elements (myline without the level check); returns false
// after warning 2 for a count outside 1..10 or an element below 1.
bool qqmyln(const int* pattern, int n);
// Restarts the dash pattern: phase 0, index 1, remaining = first element.
void inityp();

// Filled box from (x1, y1) to (x2, y2) in plot units relative to the origin
// offset, clamped to the clipping window, in colour index clr.
void dbox(float x1, float y1, float x2, float y2, int clr);
// Outline of the closed polygon with the current line style.
void arealx(const float* x, const float* y, int n);
// Fill of the polygon (relative plot units): solid through the driver where
// it can, else hatched with the current shading pattern.
void dareaf(const float* x, const float* y, int n);
// Shading pattern without the level check; false after warning 2.
bool qqmypt(int angle, int type, int density, int cross);
bool qqshdp(int n);

} // namespace plotix::detail

#endif
