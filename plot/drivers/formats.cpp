// The table of output formats and the driver selection of disini: each row
// names the factory of the driver that draws the format; the list of formats
// for callers (format_list) is read from the same rows.
#include "drivers/formats.h"

#include "core/helpers.h"
#include "core/state.h"
#include "drivers/null.h"
#include "drivers/pdf.h"
#include "drivers/postscript.h"
#include "drivers/raster.h"
#include "drivers/screen.h"
#include "drivers/setup.h"
#include "plotix.h"

namespace plotix::detail {

std::unique_ptr<Driver> make_gksl_driver();
std::unique_ptr<Driver> make_hpgl_driver(bool sheet);
std::unique_ptr<Driver> make_kyocera_driver();
std::unique_ptr<Driver> make_applet_driver();
std::unique_ptr<Driver> make_svg_driver();

namespace {

// Screens: windows 1..8 (devices 72..79) and the large window (80 and up).
std::unique_ptr<Driver> screen(int device) {
    const bool full = device >= 80;
    const int n = full ? 1 : device - 71;
    if (auto d = make_screen_driver(g.dev.screens, n, full)) return d;
    return make_no_display_driver();
}

// Terminals and line printers: nothing is drawn; boxes are taken, polygons
// hatched.
std::unique_ptr<Driver> terminal(int) {
    return make_null_driver(DeviceInfo{}, 1.0f, true);
}

// The CGM and WMF metafiles, whose contents are not defined here: nothing is
// drawn, but their colour and fill rules hold.
std::unique_ptr<Driver> cgm(int) {
    DeviceInfo d;
    d.lines_before_boxes = false;
    d.light_page = true;
    d.white_is_background = true;
    return make_null_driver(d, 2.0f * setup_p(), false);
}

std::unique_ptr<Driver> wmf(int) {
    DeviceInfo d;
    d.polygons = DeviceInfo::Polygons::filled;
    d.lines_before_boxes = false;
    d.light_page = true;
    d.white_is_background = true;
    d.black_white_swapped = true;
    d.fine_solid_hatch = true;
    return make_null_driver(d, 5.6692915f * setup_p(), false);
}

std::unique_ptr<Driver> gksl(int) {
    return make_gksl_driver();
}
std::unique_ptr<Driver> kyocera(int) {
    return make_kyocera_driver();
}
std::unique_ptr<Driver> hpgl(int) {
    return make_hpgl_driver(false);
}
std::unique_ptr<Driver> hpgl_sheet(int) {
    return make_hpgl_driver(true);
}
std::unique_ptr<Driver> post(int) {
    return make_postscript_driver(PostScriptKind::post);
}
std::unique_ptr<Driver> pscl(int) {
    return make_postscript_driver(PostScriptKind::pscl);
}
std::unique_ptr<Driver> eps(int) {
    return make_postscript_driver(PostScriptKind::eps);
}
std::unique_ptr<Driver> ps(int) {
    return make_postscript_driver(PostScriptKind::ps);
}
std::unique_ptr<Driver> pdf(int) {
    return make_pdf_driver();
}
// The image formats: the writer is the device number less 600.
std::unique_ptr<Driver> image(int device) {
    return make_raster_driver(device - 600);
}
std::unique_ptr<Driver> applet(int) {
    return make_applet_driver();
}
std::unique_ptr<Driver> svg(int) {
    return make_svg_driver();
}

constexpr Output kScreen = Output::screen, kFile = Output::file, kMemory = Output::memory,
                 kNothing = Output::nothing;

// The library's formats in lookup order.
const FormatRow kRows[] = {
    {"GKSL", 201, "met", kFile, gksl},       {"CGM", 211, "cgm", kNothing, cgm},
    {"KYOC", 301, "kyo", kFile, kyocera},    {"HPGL", 401, "hpg", kFile, hpgl},
    {"HPA4", 402, "hpg", kFile, hpgl_sheet}, {"HPA3", 403, "hpg", kFile, hpgl_sheet},
    {"HPA2", 404, "hpg", kFile, hpgl_sheet}, {"HPA1", 405, "hpg", kFile, hpgl_sheet},
    {"CONS", 101, "", kScreen, screen},      {"TEKT", 151, "tek", kNothing, terminal},
    {"VT34", 103, "", kNothing, terminal},   {"LN03", 161, "ln3", kNothing, terminal},
    {"POST", 501, "psc", kFile, post},       {"PSCL", 502, "psc", kFile, pscl},
    {"XWIN", 72, "", kScreen, screen},       {"XWI1", 72, "", kScreen, screen},
    {"XWI2", 73, "", kScreen, screen},       {"XWI3", 74, "", kScreen, screen},
    {"XWI4", 75, "", kScreen, screen},       {"XWI5", 76, "", kScreen, screen},
    {"XWI6", 77, "", kScreen, screen},       {"XWI7", 78, "", kScreen, screen},
    {"XWI8", 79, "", kScreen, screen},       {"XWND", 80, "", kScreen, screen},
    {"MET1", 80, "", kScreen, screen},       {"MET2", 80, "", kScreen, screen},
    {"MET3", 80, "", kScreen, screen},       {"MET4", 80, "", kScreen, screen},
    {"MET5", 80, "", kScreen, screen},       {"MET6", 80, "", kScreen, screen},
    {"MET7", 80, "", kScreen, screen},       {"MET8", 80, "", kScreen, screen},
    {"MET9", 80, "", kScreen, screen},       {"TIFF", 601, "tif tiff", kFile, image},
    {"IMAG", 602, "img", kFile, image},      {"VIRT", 603, "", kMemory, image},
    {"PNG", 604, "png", kFile, image},       {"JAVA", 701, "java", kFile, applet},
    {"WMF", 221, "wmf", kNothing, wmf},      {"PPM", 605, "ppm", kFile, image},
    {"PDF", 511, "pdf", kFile, pdf},         {"EPS", 503, "eps", kFile, eps},
    {"BMP", 606, "bmp", kFile, image},       {"PS", 504, "ps", kFile, ps},
    {"SVG", 801, "svg", kFile, svg},
};

std::vector<FormatRow>& rows() {
    static std::vector<FormatRow> r(std::begin(kRows), std::end(kRows));
    return r;
}

DriverFactory& factory() {
    static DriverFactory f;
    return f;
}

} // namespace

const std::vector<FormatRow>& format_table() {
    return rows();
}

const FormatRow* find_format(std::string_view keyword) {
    const std::string key = keyword4(keyword);
    for (const FormatRow& row : rows()) {
        if (keyword4(row.keyword) == key) return &row;
    }
    return nullptr;
}

const FormatRow* format_of_device(int device) {
    for (const FormatRow& row : rows()) {
        if (row.device == device) return &row;
    }
    return nullptr;
}

std::string_view default_extension(const FormatRow& row) {
    return row.extensions.substr(0, row.extensions.find(' '));
}

void add_format(const FormatRow& row) {
    for (FormatRow& r : rows()) {
        if (keyword4(r.keyword) == keyword4(row.keyword)) {
            r = row;
            return;
        }
    }
    rows().push_back(row);
}

void reset_formats() {
    rows().assign(std::begin(kRows), std::end(kRows));
}

void set_driver_factory(DriverFactory f) {
    factory() = std::move(f);
}

std::unique_ptr<Driver> select_driver(int device) {
    if (factory()) {
        if (auto d = factory()(device)) return d;
    }
    return make_driver(device);
}

std::unique_ptr<Driver> make_driver(int device) {
    const FormatRow* row = format_of_device(device);
    return row != nullptr ? row->make(device) : terminal(device);
}

} // namespace plotix::detail

std::vector<plotix::FormatInfo> plotix::format_list() {
    using namespace plotix::detail;
    std::vector<FormatInfo> list;
    for (const FormatRow& row : format_table()) {
        FormatInfo f;
        f.keyword = row.keyword;
        for (std::string_view rest = row.extensions; !rest.empty();) {
            const std::size_t blank = rest.find(' ');
            if (blank != 0) f.extensions.emplace_back(rest.substr(0, blank));
            rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
        }
        if (!f.extensions.empty()) f.file = "plotix." + f.extensions.front();
        f.file_format = row.output == Output::file;
        f.screen = row.output == Output::screen;
        list.push_back(std::move(f));
    }
    return list;
}
