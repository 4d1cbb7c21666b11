// Names of output files: by the default rule for existing files (filmod
// "VERSION") an existing file is never replaced, the new file gets a version
// number instead.
#ifndef PLOTIX_CORE_FILES_H
#define PLOTIX_CORE_FILES_H

#include <string>

namespace plotix::detail {

// Resolves a clash with an existing file (anything under the name, a
// symbolic link included, whatever it points to) by a version number in place
// ("plotix.ps" -> "plotix_1.ps", "fasogram.ps" -> "fasogr_1.ps", ...).
// Returns 0, or 1 when more than 9999 versions exist (the name is unusable).
int gfilnn(std::string& name);

} // namespace plotix::detail

#endif
