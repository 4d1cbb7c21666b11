// The version-number rule for output file names: a free version of a name
// that is taken.
#include "core/files.h"

#include <sys/stat.h>

#include <cstdio>

#include "core/format.h"
#include "core/helpers.h"

namespace plotix::detail {

namespace {

// Something is there under the name: a file, a directory, or a symbolic
// link (also one to nothing).
bool taken(const std::string& name) {
    struct stat st;
    return lstat(name.c_str(), &st) == 0;
}

} // namespace

int gfilnn(std::string& name) {
    if (!taken(name)) return 0;
    std::size_t sep = name.find_last_of("\\/");
    std::size_t start = sep == std::string::npos ? 0 : sep + 1;
    std::size_t dot = name.find_last_of('.');
    std::size_t ext =
        (dot == std::string::npos || dot < start) ? static_cast<std::size_t>(trmlen(name)) : dot;
    if (ext < start) ext = start;
    for (int n = 1; n <= 9999; ++n) {
        std::string suffix = "_" + fmt_int(n);
        std::string base = name.substr(start, ext - start);
        if (base.size() > 8 - suffix.size()) base.resize(8 - suffix.size());
        std::string candidate = name.substr(0, start) + base + suffix + name.substr(ext);
        if (!taken(candidate)) {
            name = candidate;
            return 0;
        }
    }
    std::FILE* f = console();
    std::fputs("More than 9999 file versions!\n", f);
    std::fflush(f);
    return 1;
}

} // namespace plotix::detail
