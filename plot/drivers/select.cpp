// Driver selection: the one place where the device number picks the driver.
#include <algorithm>

#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/pdf.h"
#include "drivers/postscript.h"
#include "drivers/raster.h"
#include "drivers/screen.h"
#include "drivers/setup.h"

namespace plotix::detail {

std::unique_ptr<Driver> make_gksl_driver();
std::unique_ptr<Driver> make_hpgl_driver();
std::unique_ptr<Driver> make_kyocera_driver();
std::unique_ptr<Driver> make_applet_driver();
std::unique_ptr<Driver> make_null_driver(float scale);
std::unique_ptr<Driver> make_no_display_driver();

namespace {

DriverFactory& factory() {
    static DriverFactory f;
    return f;
}

} // namespace

bool is_screen(int device) {
    return device <= 100;
}

bool opens_stream(int device) {
    return device == 201 || (device >= 301 && device <= 500) ||
           (device >= 501 && device <= 600 && device != 511) || device == 701;
}

bool is_incompatible(int device) {
    return (device >= 101 && device <= 200) || device == 211 || device == 221;
}

void set_driver_factory(DriverFactory f) {
    factory() = std::move(f);
}

std::unique_ptr<Driver> select_driver(int device) {
    if (factory()) {
        if (auto d = factory()(device)) return d;
    }
    const float p = setup_p();
    if (device <= 100) {
        if (auto screen = make_screen_driver()) return screen;
        return make_no_display_driver();
    }
    if (device <= 200) return make_null_driver(1.0f);
    if (device == 201) return make_gksl_driver();
    if (device == 211) return make_null_driver(2.0f * p);
    if (device == 221) return make_null_driver(5.6692915f * p);
    if (device >= 301 && device <= 400) return make_kyocera_driver();
    if (device >= 401 && device <= 500) return make_hpgl_driver();
    if (device == 511) return make_pdf_driver();
    if (device >= 501 && device <= 600) return make_postscript_driver();
    if (device >= 601 && device <= 700) return make_raster_driver();
    if (device == 701) return make_applet_driver();
    return make_null_driver(1.0f);
}

} // namespace plotix::detail
