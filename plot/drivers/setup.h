// Device set-up helpers shared by the drivers: the user scale, the page as
// the devices take it, the scale of pixel devices and the layouts of the
// page on the device units.
#ifndef PLOTIX_DRIVERS_SETUP_H
#define PLOTIX_DRIVERS_SETUP_H

namespace plotix::detail {

// User scale times unit divisor.
float setup_p();
// Page width and height as the devices take them (exchanged with orientation swap 1).
void oriented_page(float& w, float& h);
// Scale of a pixel device of wp x hp pixels (screens, images, applet source).
float pixel_scale(int wp, int hp);

// How a device lays a page point (x, y in plot units) on its units at scale
// s; W, H are the page width and height, "rounded" is rnd.
enum class Layout {
    pixels,     // rounded x s, y s; swap 1: y s, (W - x) s
    metafile,   // x s, (H - y) s; swap 1: y s, x s
    printer,    // rounded x s, y s
    plotter,    // rounded x s, (H - y) s; swap 1: y s, x s
    sheet,      // rounded; a landscape page x s, (H - y) s, else (H - y) s, (W - x) s
    postscript, // a landscape page (unless swap 2) y s, x s; else x s, (H - y) s
};
void page_to_device(Layout layout, float s, float x, float y, double& dx, double& dy);

// A box from (x1, y1) to (x2, y2), plot units, x1 <= x2, y1 <= y2, in device
// units before rounding: the upper left and lower right corner on pixel
// devices; the lower left and upper right corner of the PostScript family,
// with x and y exchanged on a landscape page.
void pixel_box(double s, float x1, float y1, float x2, float y2, double out[4]);
void postscript_box(double s, float x1, float y1, float x2, float y2, double out[4]);

// True when the PostScript family turns this page (landscape, no swap 2).
bool postscript_landscape();

} // namespace plotix::detail

#endif
