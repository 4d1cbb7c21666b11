// The output driver interface. disini takes one driver from the format
// table (select_driver, drivers/formats.h) and asks it what it is (DeviceInfo); the vector
// pipeline hands it every pen position in page plot units, colour changes,
// boxes and polygons; disfin asks it what became of its output file.
#ifndef PLOTIX_DRIVERS_DRIVER_H
#define PLOTIX_DRIVERS_DRIVER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/colour.h"

namespace plotix::detail {

// Pen operations.
enum class PenOp {
    end = 1,     // end of the document (the PDF writer's own step)
    draw = 2,    // a line from the last position to this one
    move = 3,    // a new position without a line
    fill = 5,    // close and fill the path just drawn (devices that fill paths)
    flush = 999, // draw what is pending; a screen brings its window up to date
};

// What a device is. The life cycle, the pipeline and the colour commands ask
// this instead of looking at device numbers.
struct DeviceInfo {
    enum class Kind {
        screen, // a window on the display, no output file
        stream, // a file written while the plot is drawn
        raster, // an image in memory, written to its file (if any) at the end
        none,   // a format whose contents this library does not define: warning 40
    };
    Kind kind = Kind::none;

    // How a solid polygon is filled: hatched by the pipeline, filled by the
    // driver in one call (polygon), or drawn as a path of pen positions that
    // the fill operation closes and fills (counted as vectors).
    enum class Polygons { hatched, filled, path };
    Polygons polygons = Polygons::hatched;

    // Pending lines are stroked before a filled box; false for the
    // PostScript family, whose box goes ahead of them, and for the devices
    // without boxes, whose zig-zag fill changes the colour (and strokes) first.
    bool lines_before_boxes = true;

    // Colour rules of the device.
    int table = 1;                    // table type at disini: 1 "RAIN", 6 "RGRE"
    int background = 0;               // background mode under the option "by device": 0, 2
    bool light_page = false;          // tables 1..3 draw index 0 on a light page (255)
    bool white_is_background = false; // "WHITE" of the tables 1..3 is index 0
    bool black_white_swapped = false; // "SMAL" and "VGA" exchange black and white
    bool reverses = false;            // reversed mode exchanges background and foreground
    bool small_table_only = false;    // every table is "SMAL"
    bool fine_solid_hatch = false;    // hatch patterns of density 0 are 0.4 plot units apart
};

// What became of the output file of a plot.
struct FileResult {
    int status = 0;        // 1 written completely, 0 no output file, -1 failed
    int errnum = 0;        // the system's error number of a failure
    bool reported = false; // the driver has warned already (memory, compressor)
};

struct Driver {
    virtual ~Driver() = default;
    virtual const DeviceInfo& info() const = 0;
    // Device set-up at disini, from the page and device settings of the
    // state. Drivers with an output file get its settled name and write to
    // a free version of it (file()).
    virtual void begin(const std::string& file) = 0;
    // Device units per plot unit.
    virtual float scale() const = 0;
    // One pen position in page plot units.
    virtual void pen(float x, float y, PenOp op) = 0;
    // A colour change to index (red, green and blue of its table entry). It
    // comes on every change, also to the same index.
    virtual void colour(int index, Rgb c) { (void)index, (void)c; }
    // A filled box in page plot units (x1 <= x2, y1 <= y2, inside the
    // clipping window) in colour index; false when the device has no boxes
    // (the pipeline fills it with a zig-zag of lines).
    virtual bool box(float x1, float y1, float x2, float y2, int index, Rgb c) {
        (void)x1, (void)y1, (void)x2, (void)y2, (void)index, (void)c;
        return false;
    }
    // A solid polygon of n page points in the current colour; false when the
    // device cannot fill it (the pipeline hatches it).
    virtual bool polygon(const float* x, const float* y, int n) {
        (void)x, (void)y, (void)n;
        return false;
    }
    // The whole colour table (256 packed 0x00RRGGBB) of table type 0..8.
    virtual void palette(int type, const std::uint32_t* table) { (void)type, (void)table; }
    // Clears the page.
    virtual void erase() {}
    // Bits per pixel of the screen the device draws on.
    virtual int colour_depth() const { return 24; }
    // The system's error number when the output file could not be created
    // at begin (0: it was, or the device has none); disini reports it.
    virtual int create_error() const { return 0; }
    // End of the plot: finishes the page and the output file.
    virtual FileResult finish() { return {}; }
    // The name of the output file (after begin, and after finish for images,
    // whose name is settled again then).
    virtual std::string file() const { return {}; }
};

// The driver for a device number: the test hook's, else the format table's
// (make_driver; a number without a row draws nothing).
std::unique_ptr<Driver> select_driver(int device);
std::unique_ptr<Driver> make_driver(int device);

// Test hook: when set and returning a driver, that driver replaces the one the
// device number selects (for screens also the missing display).
using DriverFactory = std::function<std::unique_ptr<Driver>(int device)>;
void set_driver_factory(DriverFactory factory);

} // namespace plotix::detail

#endif
