// The output driver interface. disini chooses one driver from the device
// number (select_driver); the vector pipeline hands it every pen vertex in
// device units (xjdraw), colour changes, boxes and polygons.
#ifndef PLOTIX_DRIVERS_DRIVER_H
#define PLOTIX_DRIVERS_DRIVER_H

#include <cstdint>
#include <functional>
#include <memory>

namespace plotix::detail {

// Pen operation codes.
inline constexpr int kOpDraw = 2;
inline constexpr int kOpMove = 3;
inline constexpr int kOpFill = 5;
inline constexpr int kOpFlush = 999;

struct Driver {
    virtual ~Driver() = default;
    // Device set-up at disini, after the output file is open: sets the scale
    // factor (state.dev.scale) and writes the file header.
    virtual void begin() {}
    // One pen vertex in device units (integer devices get whole numbers).
    virtual void vertex(double x, double y, int op) = 0;
    // A colour change to index with its red, green and blue (0..255). It comes
    // on every change, also to the same index; drivers that write only real
    // changes compare with state.colour.current, which still holds the
    // previous index during the call.
    virtual void colour(int index, int r, int g, int b) { (void)index, (void)r, (void)g, (void)b; }
    // A filled box in colour index (its table entry is r, g, b). The corners
    // are device units before rounding, as the device's box command takes
    // them: for the PostScript family the four numbers of the "e" command,
    // for the pixel devices the upper left and lower right corner.
    virtual void box(double x1, double y1, double x2, double y2, int index, int r, int g, int b) {
        (void)x1, (void)y1, (void)x2, (void)y2, (void)index, (void)r, (void)g, (void)b;
    }
    // The whole colour table (256 packed 0x00RRGGBB) of table type 0..8, for
    // the palette of screen and raster devices.
    virtual void palette(int type, const std::uint32_t* table) { (void)type, (void)table; }
    // A solid filled polygon in device units.
    virtual void polygon(const int* x, const int* y, int n) { (void)x, (void)y, (void)n; }
    // Clears the page.
    virtual void erase() {}
    // End of the plot, before the output file is closed.
    virtual void finish() {}
};

// Device families.
bool is_screen(int device);       // screen windows (<= 100)
bool opens_stream(int device);    // devices whose output file disini opens
bool is_incompatible(int device); // formats without defined contents here

// The driver for a device number.
std::unique_ptr<Driver> select_driver(int device);

// Test hook: when set and returning a driver, that driver replaces the one the
// device number selects (for screens also the missing display).
using DriverFactory = std::function<std::unique_ptr<Driver>(int device)>;
void set_driver_factory(DriverFactory factory);

} // namespace plotix::detail

#endif
