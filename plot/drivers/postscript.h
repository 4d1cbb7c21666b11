// PostScript and Encapsulated PostScript output.
#ifndef PLOTIX_DRIVERS_POSTSCRIPT_H
#define PLOTIX_DRIVERS_POSTSCRIPT_H

#include <memory>

#include "drivers/driver.h"

namespace plotix::detail {

inline constexpr int kPostScriptPrologLines = 79;
extern const char* const kPostScriptProlog[kPostScriptPrologLines];

// The members of the family: plain PostScript on a light page with the
// reversed grey table ("POST"), PostScript with a black page unless the
// background is reversed ("PSCL"), the same as an EPS file ("EPS"), and
// PostScript in the reversed background ("PS").
enum class PostScriptKind { post, pscl, eps, ps };
std::unique_ptr<Driver> make_postscript_driver(PostScriptKind kind);

} // namespace plotix::detail

#endif
