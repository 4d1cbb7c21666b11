// PostScript and Encapsulated PostScript output (devices 501..600 except 511).
#ifndef PLOTIX_DRIVERS_POSTSCRIPT_H
#define PLOTIX_DRIVERS_POSTSCRIPT_H

#include <memory>

#include "drivers/driver.h"

namespace plotix::detail {

inline constexpr int kPostScriptPrologLines = 79;
extern const char* const kPostScriptProlog[kPostScriptPrologLines];

std::unique_ptr<Driver> make_postscript_driver();

} // namespace plotix::detail

#endif
