// The screen window driver (devices up to 100): a window per window number
// 1..8, drawing into an off-screen picture that is copied to the window when
// the plot ends and on every repaint, and the wait at disfin until the user
// dismisses the picture (mouse button 2 or closing the window).
#ifndef PLOTIX_DRIVERS_SCREEN_H
#define PLOTIX_DRIVERS_SCREEN_H

#include <cstdint>
#include <memory>
#include <string>

#include "drivers/driver.h"
#include "drivers/xwindow.h"

namespace plotix::detail {

struct WindowGeometry {
    int x = 0, y = 0, w = 0, h = 0;
};

// Client size and position of the window of a device for a page of pagew x
// pageh plot units; the size and the position are taken from given when
// size_fixed or pos_fixed.
WindowGeometry qqwgeo(const ScreenMetrics& m, int device, float pagew, float pageh, bool size_fixed,
                      bool pos_fixed, WindowGeometry given);

// Opens the display if needed, chooses the palette mode (once per run) and
// opens the device's window (qqwopn). geo: the caller's position and size in,
// the window's client position and size out. Returns 0, or 1 without a
// display.
int qqwini(int device, float pagew, float pageh, int winopt, WindowGeometry& geo, int clrmd,
           int bg);
// Polyline batching: op 3 move, 2 draw, 999 flush.
void qqwdrw(int x, int y, int op);
void qqwclr(int index);
// Fills w x h pixels from (x, y) with colour index.
void qqwfll(int x, int y, int w, int h, int index);
// Polygon: op 1 begins one of a points, op 2 adds (a, b), op 9 fills it.
void qqwpol(int a, int b, int op);
void qqwers();
void qqwvlt(int type, const std::uint32_t* table);
// End of the plot: shows the picture, sets the title and waits by option =
// 10 * key option + end mode (end mode 4: 10 * delay + 4).
void qqwfin(int option);

// The colour an index is drawn in, after the palette mode's mapping.
Rgb8 screen_colour(int index);
// Palette mode 0..3 and the current window's title (test support).
int screen_palette_mode();
std::string screen_title();
// Closes every window and the display and forgets the run's choices (test
// support).
void screen_reset();

// The screen driver, or nullptr when no display can be opened.
std::unique_ptr<Driver> make_screen_driver();

} // namespace plotix::detail

#endif
