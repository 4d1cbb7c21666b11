// Driver selection: the one place where a device number picks the driver and
// what the driver is told about its device.
#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/null.h"
#include "drivers/pdf.h"
#include "drivers/postscript.h"
#include "drivers/raster.h"
#include "drivers/screen.h"
#include "drivers/setup.h"

namespace plotix::detail {

std::unique_ptr<Driver> make_gksl_driver();
std::unique_ptr<Driver> make_hpgl_driver(bool sheet);
std::unique_ptr<Driver> make_kyocera_driver();
std::unique_ptr<Driver> make_applet_driver();
std::unique_ptr<Driver> make_svg_driver();

namespace {

DriverFactory& factory() {
    static DriverFactory f;
    return f;
}

// Terminals and line printers: nothing is drawn; boxes are taken, polygons
// hatched.
std::unique_ptr<Driver> terminal() {
    return make_null_driver(DeviceInfo{}, 1.0f, true);
}

// The CGM and WMF metafiles, whose contents are not defined here: nothing is
// drawn, but their colour and fill rules hold.
std::unique_ptr<Driver> cgm() {
    DeviceInfo d;
    d.lines_before_boxes = false;
    d.light_page = true;
    d.white_is_background = true;
    return make_null_driver(d, 2.0f * setup_p(), false);
}

std::unique_ptr<Driver> wmf() {
    DeviceInfo d;
    d.polygons = DeviceInfo::Polygons::filled;
    d.lines_before_boxes = false;
    d.light_page = true;
    d.white_is_background = true;
    d.black_white_swapped = true;
    d.fine_solid_hatch = true;
    return make_null_driver(d, 5.6692915f * setup_p(), false);
}

// Screens: windows 1..8 (72..79) and the large window (80).
std::unique_ptr<Driver> screen(int device) {
    const bool full = device == 80;
    const int n = full ? 1 : device - 71;
    if (auto d = make_screen_driver(g.dev.screens, n, full)) return d;
    return make_no_display_driver();
}

} // namespace

void set_driver_factory(DriverFactory f) {
    factory() = std::move(f);
}

std::unique_ptr<Driver> select_driver(int device) {
    if (factory()) {
        if (auto d = factory()(device)) return d;
    }
    return make_driver(device);
}

std::unique_ptr<Driver> make_driver(int device) {
    if (device <= 100) return screen(device);
    if (device <= 200) return terminal();
    if (device == 201) return make_gksl_driver();
    if (device == 211) return cgm();
    if (device == 221) return wmf();
    if (device >= 301 && device <= 400) return make_kyocera_driver();
    if (device == 401 || (device >= 406 && device <= 500)) return make_hpgl_driver(false);
    if (device >= 402 && device <= 405) return make_hpgl_driver(true);
    if (device == 501) return make_postscript_driver(PostScriptKind::post);
    if (device == 502) return make_postscript_driver(PostScriptKind::pscl);
    if (device == 503) return make_postscript_driver(PostScriptKind::eps);
    if (device == 504) return make_postscript_driver(PostScriptKind::ps);
    if (device == 511) return make_pdf_driver();
    if (device >= 601 && device <= 700) return make_raster_driver(device - 600);
    if (device == 701) return make_applet_driver();
    if (device == 801) return make_svg_driver();
    return terminal();
}

} // namespace plotix::detail
