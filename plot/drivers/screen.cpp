// The screen window driver: window geometry, colour mapping, polyline
// batching, titles and the wait protocol, on the window-system layer of
// xwindow.h.
#include "drivers/screen.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "core/format.h"
#include "core/helpers.h"
#include "core/state.h"
#include "drivers/raster.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

constexpr int kSlots = 8;
constexpr int kBatch = 50;
constexpr Rgb8 kWhite{255, 255, 255};

struct Slot {
    int open = 0; // 0 closed, 1 open
    bool user_title = false;
    std::string title;
    std::unique_ptr<PlotWindow> win;
    int bw = 0, bh = 0; // picture size
};

struct ScreenState {
    // The connection is declared first, so that it is closed after the windows.
    std::unique_ptr<WindowSystem> sys;
    ScreenMetrics m;
    int nxwind = 0, nywind = 0, nwwind = 0, nhwind = 0;
    // Palette mode: 0 no colour control, 1 129 entries (8-bit screens),
    // 2 16 entries (4-bit screens), 3 direct colour.
    int iclrop = 0, ifc = 0;
    int nclrtb = 1, iclrmd = 0;
    bool palette_chosen = false;
    Rgb8 colors[256];
    Rgb8 pen = kWhite;     // colour of lines
    Rgb8 iclrref = kWhite; // the current colour (lines, single pixels, polygons)
    int ishow = 1;
    Slot slots[kSlots];
    int iwin = 0, iwin1 = 0; // current window and the device's window (1..8, 0 none)
    int ifinop = 0, keyopt = 0;
    bool waiting = false, quit = false, quit_posted = false;
    int px[kBatch] = {}, py[kBatch] = {};
    int nray = 0;
    bool single = false;
    std::vector<int> polx, poly;
};

ScreenState& st() {
    static ScreenState s;
    return s;
}

std::string window_text(const char* rest, int n) {
    return "PLOTIX " + fmt_int(n) + rest;
}

PlotWindow* current_window() {
    ScreenState& s = st();
    if (s.iwin < 1 || s.iwin > kSlots) return nullptr;
    PlotWindow* w = s.slots[s.iwin - 1].win.get();
    return w != nullptr && w->has_picture() ? w : nullptr;
}

// The platform's message box: the caption and the text on the console.
void message_box(const char* caption, const char* text) {
    std::FILE* f = console();
    std::fprintf(f, "%s\n%s\n", caption, text);
    std::fflush(f);
}

void close_slot(Slot& slot) {
    slot.win.reset();
    slot.open = 0;
    slot.user_title = false;
    slot.title.clear();
}

// Closes every window, the current one last; while the wait runs, the end of
// the current window ends it.
void close_all() {
    ScreenState& s = st();
    for (int k = 0; k < kSlots; ++k) {
        if (k + 1 != s.iwin) close_slot(s.slots[k]);
    }
    if (s.iwin >= 1 && s.iwin <= kSlots) close_slot(s.slots[s.iwin - 1]);
    if (s.waiting) s.quit = true;
}

bool any_open() {
    for (const Slot& slot : st().slots) {
        if (slot.win) return true;
    }
    return false;
}

int slot_of(long id) {
    const ScreenState& s = st();
    for (int k = 0; k < kSlots; ++k) {
        if (s.slots[k].win && s.slots[k].win->id() == id) return k + 1;
    }
    return 0;
}

void set_title(int n, const std::string& title) {
    Slot& slot = st().slots[n - 1];
    slot.title = title;
    if (slot.win) slot.win->set_title(title);
}

// The window procedure.
void disproc(const WindowEvent& e) {

    ScreenState& s = st();
    const int k = slot_of(e.window);
    if (k == 0) return;
    switch (e.kind) {
    case WindowEvent::kExpose: s.slots[k - 1].win->show(); break;
    case WindowEvent::kClose:
        if (k == s.iwin1) {
            close_all();
        } else {
            close_slot(s.slots[k - 1]);
        }
        break;
    case WindowEvent::kDestroyed:
        // Destroyed by someone else: forget it.
        close_slot(s.slots[k - 1]);
        if (k == s.iwin && s.waiting) s.quit = true;
        break;
    case WindowEvent::kButton:
    case WindowEvent::kReturn:
    case WindowEvent::kEscape: {
        const bool ends = (e.kind == WindowEvent::kButton && e.button == 2) ||
                          (e.kind == WindowEvent::kReturn && s.keyopt == 1) ||
                          (e.kind == WindowEvent::kEscape && s.keyopt == 2);
        if (!ends || k != s.iwin) break;
        if (s.ifinop == 0) {
            close_all();
        } else if (s.ifinop == 1) {
            s.quit = true;
        }
        break;
    }
    default: break;
    }
}

void qqwopn(int device, float pagew, float pageh, int winopt, WindowGeometry& geo, int bg) {
    ScreenState& s = st();
    const int n = device == 80 ? 1 : std::clamp(device - 71, 1, kSlots);
    geo = qqwgeo(s.m, device, pagew, pageh, winopt != 0, winopt == 1, geo);
    s.nxwind = geo.x;
    s.nywind = geo.y;
    s.nwwind = geo.w;
    s.nhwind = geo.h;
    Slot& slot = s.slots[n - 1];
    close_slot(slot);
    slot.open = 1;
    if (s.iwin != 0 && s.iwin != n) {
        Slot& other = s.slots[s.iwin - 1];
        if (other.open != 0 && !other.user_title) set_title(s.iwin, window_text("", s.iwin));
    }
    slot.title = window_text(" / Working", n);
    slot.win = s.sys->create(geo.x, geo.y, geo.w, geo.h, slot.title, bg == 2);
    s.iwin = s.iwin1 = n;
    s.nray = 0;
    s.quit_posted = false;
    slot.bw = geo.w;
    slot.bh = geo.h;
    if (!slot.win->has_picture()) {
        message_box("disini", "Cannot create Bitmap");
        s.quit_posted = true;
        return;
    }
    qqwfll(0, 0, geo.w, geo.h, 0);
}

// Draws the batch and starts a new one at the given point.
void flush_batch() {
    ScreenState& s = st();
    if (s.nray > 0) qqwdrw(s.px[s.nray - 1], s.py[s.nray - 1], kOpFlush);
}

} // namespace

WindowGeometry qqwgeo(const ScreenMetrics& m, int d, float pagew, float pageh, bool size_fixed,
                      bool pos_fixed, WindowGeometry given) {
    WindowGeometry out = given;
    const double ratio = pageh > 0.0f ? static_cast<double>(pagew) / pageh : 1.0;
    if (!size_fixed) {
        if (pagew > pageh) {
            out.w = d == 80 ? m.width - 2 * m.frame_w : 2 * m.width / 3;
            out.h = rnd(out.w / ratio);
        } else {
            out.h = d == 80 ? m.height - m.caption - 2 * m.frame_h + 1 : 2 * m.height / 3;
            out.w = rnd(ratio * out.h);
        }
    }
    out.w = std::clamp(out.w, 2, 32767);
    out.h = std::clamp(out.h, 2, 32767);
    if (!pos_fixed) {
        if (d == 76) {
            out.x = (m.width - out.w) / 2;
        } else if (d == 74 || d == 75) {
            out.x = m.frame_w;
        } else if (d >= 77 && d <= 79) {
            out.x = (d - 76) * m.width / 16 + m.frame_w;
        } else {
            out.x = m.width - out.w - m.frame_w;
        }
        if (d == 76) {
            out.y = (m.height - out.h) / 2 + m.caption / 2;
        } else if (d == 73 || d == 74) {
            out.y = m.frame_h + m.caption - 1;
        } else if (d >= 77 && d <= 79) {
            out.y = m.frame_h + m.caption + (d - 76) * m.height / 16 - 1;
        } else {
            out.y = m.height - out.h - m.frame_h;
        }
        out.x = std::max(out.x, m.frame_w);
        out.y = std::max(out.y, m.frame_h + m.caption - 1);
    }
    return out;
}

int qqwini(int device, float pagew, float pageh, int winopt, WindowGeometry& geo, int clrmd,
           int bg) {
    ScreenState& s = st();
    if (!s.sys) s.sys = open_window_system();
    if (!s.sys) return 1;
    s.m = s.sys->metrics();
    s.iclrmd = clrmd;
    if (!s.palette_chosen) {
        s.palette_chosen = true;
        const int depth = s.m.depth;
        if (depth == 4) {
            s.iclrop = 2;
            s.ifc = 16;
        } else if (depth == 8) {
            s.iclrop = 1;
            s.ifc = 129;
        } else if (depth > 8) {
            s.iclrop = 3;
            s.ifc = 256;
            s.colors[0] = bg == 2 ? kWhite : Rgb8{};
        } else {
            s.iclrop = 0;
            s.ifc = 0;
        }
        s.pen = kWhite;
        s.iclrref = kWhite;
    }
    qqwopn(device, pagew, pageh, winopt, geo, bg);
    return 0;
}

Rgb8 screen_colour(int index) {
    const ScreenState& s = st();
    const int i = ((index % 256) + 256) % 256;
    switch (s.iclrop) {
    case 3: return s.colors[i];
    case 1:
    case 2: {
        int p;
        if (s.nclrtb == 0) {
            p = i == 0 ? 0 : (i % 8 == 0 ? 8 : i % 8);
        } else if (s.nclrtb == 7) {
            p = i % 16;
        } else if (s.iclrop == 1) {
            p = s.iclrmd == 0 ? (i + 1) / 2 : (s.iclrmd == 2 ? i % 128 : i);
        } else if (s.iclrmd != 0) {
            p = i % 16;
        } else {
            p = i == 0 ? 0 : (i == 255 ? 15 : static_cast<int>((i - 1) * 13.0 / 253.0 + 1.5));
        }
        return s.colors[p];
    }
    default: return i == 0 ? Rgb8{} : kWhite; // no colour control
    }
}

void qqwdrw(int x, int y, int op) {
    ScreenState& s = st();
    if (op == kOpDraw) {
        if (s.nray > 0 && (x != s.px[s.nray - 1] || y != s.py[s.nray - 1])) {
            s.px[s.nray] = x;
            s.py[s.nray] = y;
            ++s.nray;
        }
        s.single = false;
        if (s.nray < kBatch) return;
    }
    if (PlotWindow* w = current_window()) {
        if (s.nray >= 2) {
            w->polyline(s.px, s.py, s.nray, s.pen);
        } else if (s.nray == 1 && !s.single) {
            w->point(s.px[0], s.py[0], s.iclrref);
        }
    }
    if (op == kOpFlush && s.nray > 0) {
        x = s.px[s.nray - 1];
        y = s.py[s.nray - 1];
    }
    s.px[0] = x;
    s.py[0] = y;
    s.nray = 1;
    s.single = true;
}

void qqwclr(int index) {
    ScreenState& s = st();
    if (s.iclrop == 0) return;
    flush_batch();
    s.pen = screen_colour(index);
    s.iclrref = s.pen;
}

void qqwfll(int x, int y, int w, int h, int index) {
    // Lines still in the batch come first, as they were drawn first. The
    // current colour stays: pixels and polygons after a box keep it.
    flush_batch();
    if (PlotWindow* win = current_window()) win->fill_rect(x, y, w, h, screen_colour(index));
}

void qqwpol(int a, int b, int op) {
    ScreenState& s = st();
    if (op == 1) {
        s.polx.clear();
        s.poly.clear();
        if (a > 0 && a < (1 << 22)) {
            s.polx.reserve(static_cast<std::size_t>(a));
            s.poly.reserve(static_cast<std::size_t>(a));
        }
    } else if (op == 2) {
        s.polx.push_back(a);
        s.poly.push_back(b);
    } else if (op == 9) {
        flush_batch();
        PlotWindow* win = current_window();
        if (win != nullptr && !s.polx.empty()) {
            win->fill_polygon(s.polx.data(), s.poly.data(), static_cast<int>(s.polx.size()),
                              s.iclrref, s.pen);
        }
        s.polx.clear();
        s.poly.clear();
    }
}

void qqwers() {
    ScreenState& s = st();
    flush_batch();
    if (s.iwin >= 1 && s.iwin <= kSlots) {
        const Slot& slot = s.slots[s.iwin - 1];
        qqwfll(0, 0, slot.bw, slot.bh, 0);
    }
}

void qqwvlt(int type, const std::uint32_t* table) {
    ScreenState& s = st();
    if (table == nullptr) return;
    qqvvlt(type, table);
    s.nclrtb = type;
    if (s.iclrop == 0) return;
    int n = s.ifc;
    if (type == 0) n = 9;
    if (type == 7) n = 16;
    for (int b = 0; b < n && b < 256; ++b) {
        int c = b;
        if (s.ifc != 256 && type != 0 && type != 7) {
            if (s.iclrop == 2) {
                c = b == 0 ? 0 : (b == 15 ? 255 : static_cast<int>((b - 1) * 253.0 / 13.0 + 1.5));
                if (s.iclrmd != 0) c = b % 16;
            } else if (s.iclrmd == 0 && b > 0) {
                c = 2 * b - 1;
            }
        }
        c = std::clamp(c, 0, 255);
        s.colors[b] = {static_cast<int>((table[c] >> 16) & 0xFF),
                       static_cast<int>((table[c] >> 8) & 0xFF), static_cast<int>(table[c] & 0xFF)};
    }
}

void qqwfin(int option) {
    ScreenState& s = st();
    const int endmode = ((option % 10) + 10) % 10;
    const int key = option / 10;
    s.ifinop = endmode;
    s.keyopt = endmode == 4 ? 0 : key;
    if (s.nray > 0) qqwdrw(s.px[s.nray - 1], s.py[s.nray - 1], kOpMove);
    qqwdrw(0, 0, kOpFlush);
    s.iwin = s.iwin1;
    if (s.iwin < 1 || s.iwin > kSlots) return;
    Slot& slot = s.slots[s.iwin - 1];
    if (!slot.win) return;
    slot.win->show();
    if (!slot.user_title) {
        const int n = s.iwin;
        if (endmode == 2) {
            set_title(n, window_text("", n));
        } else if (endmode == 4) {
            set_title(n, window_text(" / Delay time ", n) + fmt_int(key) + " seconds");
        } else if (key == 1) {
            set_title(n, window_text(" / Click MB2 or RETURN to continue ...", n));
        } else if (key == 2) {
            set_title(n, window_text(" / Click MB2 or ESC to continue ...", n));
        } else {
            set_title(n, window_text(" / Click MB2 to continue ...", n));
        }
    }
    if (endmode == 2 || s.ishow == 0) return; // the window stays

    s.waiting = true;
    s.quit = false;
    if (s.quit_posted) {
        // No picture could be made: nothing to wait for.
        s.quit_posted = false;
        close_all();
    }
    if (endmode == 3) close_all();
    if (endmode == 4) {
        // The delay runs on the elapsed time; the window is repainted meanwhile.
        using clock = std::chrono::steady_clock;
        const auto end = clock::now() + std::chrono::seconds(std::max(key, 0));
        for (auto now = clock::now(); now <= end; now = clock::now()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
            const WindowEvent e = s.sys->next_event(static_cast<int>(left.count()) + 1);
            if (e.kind == WindowEvent::kExpose) disproc(e);
        }
        close_all();
    }
    while (!s.quit && any_open()) disproc(s.sys->next_event(-1));
    s.waiting = false;
    s.quit = false;
    // Nothing left on the screen: the connection is closed too.
    if (!any_open()) s.sys.reset();
}

int screen_palette_mode() {
    return st().iclrop;
}

std::string screen_title() {
    const ScreenState& s = st();
    if (s.iwin < 1 || s.iwin > kSlots) return {};
    return s.slots[s.iwin - 1].title;
}

void screen_reset() {
    ScreenState& s = st();
    for (Slot& slot : s.slots) close_slot(slot);
    s.sys.reset();
    s = ScreenState{};
}

namespace {

class ScreenDriver final : public Driver {
  public:
    ~ScreenDriver() override {
        // A plot abandoned without disfin leaves no window behind.
        if (!finished_) {
            close_all();
            if (!any_open()) st().sys.reset();
        }
    }

    void begin() override {
        float pw, ph;
        oriented_page(pw, ph);
        const int device = g.out.device;
        WindowGeometry geo{g.dev.winx, g.dev.winy, g.dev.imgw, g.dev.imgh};
        qqwini(device, pw, ph, g.dev.winopt, geo, 0, g.dev.bgmode);
        g.dev.winnum = device == 80 ? 1 : std::clamp(device - 71, 1, 8);
        g.dev.imgw = geo.w;
        g.dev.imgh = geo.h;
        g.dev.depth = st().m.depth;
        g.dev.scale = pixel_scale(geo.w, geo.h);
    }

    void vertex(double x, double y, int op) override {
        qqwdrw(rnd(x), rnd(y), op);
        if (op == kOpFlush) {
            if (PlotWindow* w = current_window()) w->show();
        }
    }

    void colour(int index, int, int, int) override { qqwclr(index); }

    void box(double x1, double y1, double x2, double y2, int index, int, int, int) override {
        const int ix1 = rnd(x1), iy1 = rnd(y1), ix2 = rnd(x2), iy2 = rnd(y2);
        qqwfll(ix1, iy1, ix2 + 1 - ix1, iy2 + 1 - iy1, index);
    }

    void palette(int type, const std::uint32_t* table) override { qqwvlt(type, table); }

    void polygon(const int* x, const int* y, int n) override {
        qqwpol(n, 0, 1);
        for (int i = 0; i < n; ++i) qqwpol(x[i], y[i], 2);
        qqwpol(0, 0, 9);
    }

    void erase() override { qqwers(); }

    void finish() override {
        finished_ = true;
        const State::Screen& o = g.screen;
        qqwfin(o.waitopt == 4 ? 10 * o.delay + 4 : 10 * o.keyopt + o.waitopt);
    }

  private:
    bool finished_ = false;
};

} // namespace

std::unique_ptr<Driver> make_screen_driver() {
    ScreenState& s = st();
    if (!s.sys) s.sys = open_window_system();
    if (!s.sys) return nullptr;
    return std::make_unique<ScreenDriver>();
}

} // namespace plotix::detail
