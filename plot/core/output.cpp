#include "core/output.h"

#include <cstdio>

#include "core/format.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/linebuf.h"
#include "drivers/raster.h"
#include "plotix.h"

namespace plotix::detail {

namespace {

constexpr std::size_t kNameMax = 80;

struct Format {
    const char* keyword;
    int device;
};

// The keyword table in lookup order.
constexpr Format kFormats[] = {
    {"GKSL", 201}, {"CGM ", 211}, {"KYOC", 301}, {"HPGL", 401}, {"HPA4", 402}, {"HPA3", 403},
    {"HPA2", 404}, {"HPA1", 405}, {"CONS", 101}, {"TEKT", 151}, {"VT34", 103}, {"LN03", 161},
    {"POST", 501}, {"PSCL", 502}, {"XWIN", 72},  {"XWI1", 72},  {"XWI2", 73},  {"XWI3", 74},
    {"XWI4", 75},  {"XWI5", 76},  {"XWI6", 77},  {"XWI7", 78},  {"XWI8", 79},  {"XWND", 80},
    {"TIFF", 601}, {"IMAG", 602}, {"VIRT", 603}, {"PNG ", 604}, {"JAVA", 701}, {"WMF ", 221},
    {"PPM ", 605}, {"PDF ", 511}, {"EPS ", 503}, {"BMP ", 606}, {"PS  ", 504},
};

bool readable(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

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
    switch (device) {
    case 151: return "tek";
    case 161: return "ln3";
    case 201: return "met";
    case 211: return "cgm";
    case 221: return "wmf";
    case 301: return "kyo";
    case 401:
    case 402:
    case 403:
    case 404:
    case 405: return "hpg";
    case 501:
    case 502: return "psc";
    case 503: return "eps";
    case 504: return "ps";
    case 511: return "pdf";
    case 601: return "tif";
    case 602: return "img";
    case 604: return "png";
    case 605: return "ppm";
    case 606: return "bmp";
    case 701: return "java";
    default: return "   ";
    }
}

int gfilnn(std::string& name) {
    if (!readable(name)) return 0;
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
        if (!readable(candidate)) {
            name = candidate;
            return 0;
        }
    }
    std::FILE* f = console();
    std::fputs("More than 9999 file versions!\n", f);
    std::fflush(f);
    return 1;
}

void select_output_file() {
    int device = g.out.device;
    if (g.out.filestate == 1) {
        g.out.savedname = g.out.filename;
        g.out.filestate = 2;
    } else if (g.out.filestate == 2) {
        g.out.filename = g.out.savedname;
    } else {
        g.out.filename = "plotix." + qqgfxt(device);
    }
    linebuf_reset();
    g.out.file_written = false;

    if (is_incompatible(device)) {
        warnin(40);
        return;
    }
    if (device == 601 || device == 602 || device == 604 || device == 605) {
        gfilnn(g.out.filename);
        return;
    }
    if (!opens_stream(device)) return;
    // A name with more than 9999 versions cannot be used: treated as a file
    // that cannot be created.
    if (gfilnn(g.out.filename) != 0 ||
        (g.out.stream = std::fopen(g.out.filename.c_str(), "wb")) == nullptr) {
        warnc1(36, g.out.filename);
        return;
    }
    g.out.file_written = true;
}

void close_output_file() {
    if (g.out.stream == nullptr) return;
    linebuf_end_line_if_pending();
    std::fclose(g.out.stream);
    g.out.stream = nullptr;
}

void raster_output_file() {
    // The virtual image has no file; an image without memory has nothing to
    // write. The name is resolved again: a file may have appeared meanwhile.
    if (g.out.device == 603 || !raster_ready()) return;
    if (gfilnn(g.out.filename) != 0) {
        warnc1(36, g.out.filename);
        return;
    }
    if (qqrfil(g.out.filename, g.out.device - 600)) g.out.file_written = true;
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
