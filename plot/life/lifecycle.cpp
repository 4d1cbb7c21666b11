// The life cycle of a plot: disini, disfin, erase, the buffer flushes, the
// defaults of every plot, the message option winini and the status of the
// last plot's output file.
#include "life/lifecycle.h"

#include <cmath>
#include <cstdio>

#include "axes/axes.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "drivers/driver.h"
#include "drivers/output_file.h"
#include "life/colour_commands.h"
#include "life/output.h"
#include "pipeline/pipeline.h"
#include "pipeline/style.h"
#include "plotix.h"
#include "text/text.h"

namespace plotix::detail {

namespace {

// nint of a page length, kept within 1 .. 2^24 plot units.
int page_length(float base) {
    double div = g.page.unitdiv;
    if (!(div > 0.0) || !std::isfinite(div)) div = 1.0;
    double v = std::round(static_cast<double>(base) / div);
    if (!(v >= 1.0)) v = 1.0;
    if (v > 16777216.0) v = 16777216.0;
    return static_cast<int>(v);
}

void open_error_file() {
    g.msg.errfile = nullptr;
    if (g.msg.errfile_opt == 0) return;
    if (!g.msg.errname_given) g.msg.errname = "plotix.err";
    // A new file only: never an existing one, nor one a link leads to.
    g.msg.errfile = create_new_file(g.msg.errname);
    g.msg.errfile_used = false;
    if (g.msg.errfile == nullptr) warn_file(36, g.msg.errname);
}

// Closes the error file; returns 10 when it holds messages, 0 otherwise.
int close_error_file() {
    if (g.msg.errfile == nullptr) return 0;
    std::fclose(g.msg.errfile);
    g.msg.errfile = nullptr;
    if (g.msg.errfile_used) return 10;
    std::remove(g.msg.errname.c_str());
    return 0;
}

} // namespace

void defvar() {
    g.page.width = page_length(g.page.basew);
    g.page.height = page_length(g.page.baseh);
    const int w = g.page.width, h = g.page.height;
    g.axes.xlen = static_cast<int>(std::lround((w + 1.0) * 2.0 / 3.0));
    g.axes.ylen = static_cast<int>(std::lround((h + 1.0) * 2.0 / 3.0));
    g.axes.xpos = (w - g.axes.xlen) / 2;
    g.axes.ypos = h - jqquni(300);
}

void resall() {
    g.k = State::Constants{};
    g.pen = State::Pen{};
    g.style = State::LineStyle{};
    qqltyp(0); // solid
    g.colour.current = 0;
    qqvlt(device().table); // "RAIN", "RGRE" for POST
    g.msg.unit = g.msg.errfile != nullptr ? 17 : 6;
    reset_axes();
    defvar();
    g.clip = State::Clip{};
    g.clip.xmax = g.page.width;
    g.clip.ymax = g.page.height;
    g.text = State::Text{};
    g.fill = State::Fill{};
    g.screen = State::Screen{};
    qqshdp(0); // no hatching
    load_default_font();
}

void erase_page() {
    qqstrk();
    active_driver().erase();
}

} // namespace plotix::detail

using namespace plotix::detail;

void plotix::disini() {
    if (jqqlev(0, 0, "disini") != 0) return;
    g.life.level = 1;
    g.count.vectors = 0;
    g.count.warnings = 0;
    g.life.closed = 0;

    int& device = g.out.device;
    if (device == 0) {
        device = 201;
        g.out.keyword = "GKSL";
    }
    g.dev.driver = select_driver(device);
    Driver& driver = *g.dev.driver;
    const DeviceInfo& info = driver.info();
    g.dev.bgmode = g.dev.bgopt == 4 ? info.background : g.dev.bgopt;
    defvar();

    if (g.dev.winopt == 0) {
        const bool wide = g.page.width > g.page.height;
        g.dev.imgw = wide ? 853 : 603;
        g.dev.imgh = wide ? 603 : 853;
    } else {
        g.dev.imgw = g.dev.winw > 1 ? g.dev.winw : 2;
        g.dev.imgh = g.dev.winh > 1 ? g.dev.winh : 2;
    }

    if (info.kind != DeviceInfo::Kind::screen) {
        select_output_file();
        if (info.kind == DeviceInfo::Kind::none) warnin(40);
    }
    driver.begin(g.out.filename);
    if (info.kind != DeviceInfo::Kind::screen) g.out.filename = driver.file();
    // A file that cannot be created is reported now, with its name; the
    // plot goes on without it.
    g.out.create_failed = driver.create_error() != 0;
    if (g.out.create_failed) warn_file(36, g.out.filename);

    open_error_file();
    resall();

    if (g.dev.first_bgmode < 0) {
        g.dev.first_bgmode = g.dev.bgmode;
    } else if (g.dev.bgmode != g.dev.first_bgmode) {
        g.dev.bgchanged = 1;
    }
    if (g.dev.bgchanged != 0 && info.kind == DeviceInfo::Kind::screen &&
        driver.colour_depth() > 8) {
        erase_page();
    }
}

void plotix::disfin() {
    if (jqqlev(1, 3, "disfin") != 0) return;
    qqstrk();
    const bool screen = device().kind == DeviceInfo::Kind::screen;
    FileResult file;
    if (g.dev.driver) {
        file = g.dev.driver->finish();
        if (!screen) g.out.filename = g.dev.driver->file();
    }
    g.dev.driver.reset();
    // A file that could not be written completely is gone; it is reported
    // here, once, whatever went wrong with it after disini.
    if (file.status < 0 && !file.reported && !g.out.create_failed) warnin(36);
    g.out.status = file.status;
    g.out.errnum = file.status < 0 ? file.errnum : 0;

    g.life.level = 0;
    g.life.closed = 1;

    int flag = file.status > 0 ? 1 : 0;
    flag += close_error_file();
    g.msg.unit = 6;

    if (g.msg.msgbox) {
        qqmprc(flag);
    } else {
        dprcol(flag);
    }
}

void plotix::erase() {
    if (jqqlev(1, 3, "erase") != 0) return;
    erase_page();
}

float plotix::getver() {
    jqqlev(0, 3, "getver");
    return kVersion;
}

int plotix::getplv() {
    jqqlev(0, 3, "getplv");
    return kPatchLevel;
}

namespace {

// A screen brings its window up to date.
void flush_screen() {
    qqstrk();
    if (device().kind == DeviceInfo::Kind::screen) active_driver().pen(0.0f, 0.0f, PenOp::flush);
}

} // namespace

void plotix::sendbf() {
    if (jqqlev(1, 3, "sendbf") != 0) return;
    flush_screen();
}

void plotix::winupd() {
    if (jqqlev(0, 3, "winupd") != 0) return;
    if (g.life.level == 0) return;
    flush_screen();
}

void plotix::winini() {
    if (jqqlev(0, 0, "winini") != 0) return;
    g.msg.msgbox = true;
    g.msg.errfile_opt = 1;
}

int plotix::getfst(int* errnum, std::string* file) {
    if (jqqlev(0, 3, "getfst") != 0) return 0;
    if (errnum != nullptr) *errnum = g.out.errnum;
    if (file != nullptr) *file = g.out.status != 0 ? g.out.filename : std::string();
    return g.out.status;
}
