// Output selection: the format keywords with their device numbers and file
// extensions, and the output file name of a plot.
#include "life/output.h"

#include "core/format.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "plotix.h"

namespace plotix::detail {

namespace {

constexpr std::size_t kNameMax = 80;
constexpr int kImageMax = 32767; // pixels of an image side

struct Format {
    const char* keyword;
    int device;
    const char* extension; // of the default file name "plotix.<extension>"
};

// The keyword table in lookup order.
constexpr Format kFormats[] = {
    {"GKSL", 201, "met"},  {"CGM ", 211, "cgm"}, {"KYOC", 301, "kyo"}, {"HPGL", 401, "hpg"},
    {"HPA4", 402, "hpg"},  {"HPA3", 403, "hpg"}, {"HPA2", 404, "hpg"}, {"HPA1", 405, "hpg"},
    {"CONS", 101, "   "},  {"TEKT", 151, "tek"}, {"VT34", 103, "   "}, {"LN03", 161, "ln3"},
    {"POST", 501, "psc"},  {"PSCL", 502, "psc"}, {"XWIN", 72, "   "},  {"XWI1", 72, "   "},
    {"XWI2", 73, "   "},   {"XWI3", 74, "   "},  {"XWI4", 75, "   "},  {"XWI5", 76, "   "},
    {"XWI6", 77, "   "},   {"XWI7", 78, "   "},  {"XWI8", 79, "   "},  {"XWND", 80, "   "},
    {"TIFF", 601, "tif"},  {"IMAG", 602, "img"}, {"VIRT", 603, "   "}, {"PNG ", 604, "png"},
    {"JAVA", 701, "java"}, {"WMF ", 221, "wmf"}, {"PPM ", 605, "ppm"}, {"PDF ", 511, "pdf"},
    {"EPS ", 503, "eps"},  {"BMP ", 606, "bmp"}, {"PS  ", 504, "ps"},  {"SVG ", 801, "svg"},
};

} // namespace

int qqgdnr(std::string_view keyword) {
    std::string key = keyword4(keyword);
    if (key >= "MET1" && key <= "MET9") return 80;
    for (const Format& f : kFormats) {
        if (key == f.keyword) return f.device;
    }
    warnc1(2, keyword);
    return 0;
}

std::string qqgfxt(int device) {
    for (const Format& f : kFormats) {
        if (f.device == device) return f.extension;
    }
    return "   ";
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
    qqcopy(g.out.filename, name, kNameMax);
    g.out.filestate = 1;
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
