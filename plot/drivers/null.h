// Drivers without output: formats whose contents are not defined here, and
// screens without a display.
#ifndef PLOTIX_DRIVERS_NULL_H
#define PLOTIX_DRIVERS_NULL_H

#include <memory>

#include "drivers/driver.h"

namespace plotix::detail {

// A driver that draws nothing, described by info, at the given scale; boxes
// tells whether it takes boxes (else the pipeline draws their zig-zag).
std::unique_ptr<Driver> make_null_driver(const DeviceInfo& info, float scale, bool boxes);
// The screen driver when no display can be opened: warning 101 at disini.
std::unique_ptr<Driver> make_no_display_driver();

} // namespace plotix::detail

#endif
