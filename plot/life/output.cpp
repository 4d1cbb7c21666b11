// Output selection: the format of metafl (from the format table of the
// drivers), the output file name of a plot and the page options.
#include "life/output.h"

#include "core/format.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "drivers/formats.h"
#include "plotix.h"

namespace plotix::detail {

namespace {

constexpr int kImageMax = 32767; // pixels of an image side

} // namespace

int qqgdnr(std::string_view keyword) {
    if (const FormatRow* row = find_format(keyword)) return row->device;
    warnc1(2, keyword);
    return 0;
}

std::string qqgfxt(int device) {
    const FormatRow* row = format_of_device(device);
    if (row == nullptr || row->extensions.empty()) return "   ";
    return std::string(default_extension(*row));
}

void select_output_file() {
    if (g.out.filestate == 1) {
        g.out.savedname = g.out.filename;
        g.out.filestate = 2;
    } else if (g.out.filestate == 2) {
        g.out.filename = g.out.savedname;
    } else {
        g.out.filename = "plotix." + qqgfxt(g.out.device);
    }
}

} // namespace plotix::detail

void plotix::metafl(std::string_view keyword) {
    using namespace plotix::detail;
    if (jqqlev(0, 0, "metafl") != 0) return;
    // Only the first four characters of a keyword reach the lookup, also in
    // the warning for an unknown one.
    std::string key;
    qqcopy(key, keyword, 4);
    int device = qqgdnr(key);
    if (device == 0) return;
    g.out.device = device == 101 ? 80 : device;
    g.out.keyword = key;
    upstr(g.out.keyword);
}

void plotix::setfil(std::string_view name) {
    using namespace plotix::detail;
    if (jqqlev(0, 0, "setfil") != 0) return;
    // The name is kept whole; one the system cannot take is reported when
    // the plot cannot create its file (warning 36 at disini).
    g.out.filename.assign(name);
    g.out.filestate = 1;
}

void plotix::shwfil(std::string_view name) {
    using namespace plotix::detail;
    if (jqqlev(0, 0, "shwfil") != 0) return;
    g.out.shownname.assign(name);
}

void plotix::filmod(std::string_view keyword) {
    using namespace plotix::detail;
    if (jqqlev(0, 0, "filmod") != 0) return;
    std::string key;
    qqcopy(key, keyword, 4);
    const int k = jqqind("VERS+REPL", 2, key);
    if (k == 0) return;
    g.out.filemode = k - 1;
}

void plotix::imgpix(int nw, int nh) {
    using namespace plotix::detail;
    if (jqqlev(0, 0, "imgpix") != 0) return;
    if (nw == 0 && nh == 0) { // back to the size of the window geometry
        g.dev.rasw = g.dev.rash = 0;
        return;
    }
    if (jqqval(nw, 2, kImageMax) != 0 || jqqval(nh, 2, kImageMax) != 0) return;
    g.dev.rasw = nw;
    g.dev.rash = nh;
}

void plotix::pagupr(int n) {
    using namespace plotix::detail;
    if (jqqlev(0, 0, "pagupr") != 0) return;
    if (jqqval(n, 0, 1) != 0) return;
    g.dev.upright = n;
}

void plotix::pagbck(std::string_view keyword) {
    using namespace plotix::detail;
    if (jqqlev(0, 0, "pagbck") != 0) return;
    std::string key;
    qqcopy(key, keyword, 4);
    const int k = jqqind("AUTO+WHIT", 2, key);
    if (k == 0) return;
    // The reversed background mode, on every device: index 0 white, the
    // foreground black.
    g.dev.bgopt = k == 1 ? 4 : 2;
}
