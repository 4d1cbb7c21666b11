// The end of a file written while the plot is drawn: what became of it.
#include "drivers/stream.h"

namespace plotix::detail {

FileResult close_file(OutputFile& file) {
    if (file.close()) return {1, 0, false};
    return {-1, file.error(), false};
}

} // namespace plotix::detail
