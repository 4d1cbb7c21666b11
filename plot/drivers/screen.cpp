// The screen window driver: window geometry, colour mapping, polyline
// batching, titles and the wait protocol, on the window-system layer of
// xwindow.h.
#include "drivers/screen.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/format.h"
#include "core/helpers.h"
#include "core/state.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

constexpr int kBatch = 50;
constexpr Rgb8 kWhite{255, 255, 255};

std::string window_text(const char* rest, int n) {
    return "PLOTIX " + fmt_int(n) + rest;
}

// The platform's message box: the caption and the text on the console.
void message_box(const char* caption, const char* text) {
    std::FILE* f = console();
    std::fprintf(f, "%s\n%s\n", caption, text);
    std::fflush(f);
}

} // namespace

// ---- the session ----------------------------------------------------------------

ScreenSession::~ScreenSession() {
    for (Slot& slot : slots_) close_slot(slot);
}

bool ScreenSession::connect() {
    if (!sys_) sys_ = open_window_system();
    return sys_ != nullptr;
}

std::string ScreenSession::title() const {
    if (iwin_ < 1 || iwin_ > kSlots) return {};
    return slots_[iwin_ - 1].title;
}

PlotWindow* ScreenSession::current_window() {
    if (iwin_ < 1 || iwin_ > kSlots) return nullptr;
    PlotWindow* w = slots_[iwin_ - 1].win.get();
    return w != nullptr && w->has_picture() ? w : nullptr;
}

void ScreenSession::close_slot(Slot& slot) {
    slot.win.reset();
    slot.open = 0;
    slot.user_title = false;
    slot.title.clear();
}

// Closes every window, the current one last; while the wait runs, the end of
// the current window ends it.
void ScreenSession::close_all() {
    for (int k = 0; k < kSlots; ++k) {
        if (k + 1 != iwin_) close_slot(slots_[k]);
    }
    if (iwin_ >= 1 && iwin_ <= kSlots) close_slot(slots_[iwin_ - 1]);
    if (waiting_) quit_ = true;
}

bool ScreenSession::any_open() const {
    for (const Slot& slot : slots_) {
        if (slot.win) return true;
    }
    return false;
}

int ScreenSession::slot_of(long id) const {
    for (int k = 0; k < kSlots; ++k) {
        if (slots_[k].win && slots_[k].win->id() == id) return k + 1;
    }
    return 0;
}

void ScreenSession::set_title(int n, const std::string& title) {
    Slot& slot = slots_[n - 1];
    slot.title = title;
    if (slot.win) slot.win->set_title(title);
}

// The window procedure.
void ScreenSession::disproc(const WindowEvent& e) {
    const int k = slot_of(e.window);
    if (k == 0) return;
    switch (e.kind) {
    case WindowEvent::kExpose: slots_[k - 1].win->show(); break;
    case WindowEvent::kClose:
        if (k == iwin1_) {
            close_all();
        } else {
            close_slot(slots_[k - 1]);
        }
        break;
    case WindowEvent::kDestroyed:
        // Destroyed by someone else: forget it.
        close_slot(slots_[k - 1]);
        if (k == iwin_ && waiting_) quit_ = true;
        break;
    case WindowEvent::kButton:
    case WindowEvent::kReturn:
    case WindowEvent::kEscape: {
        const bool ends = (e.kind == WindowEvent::kButton && e.button == 2) ||
                          (e.kind == WindowEvent::kReturn && keyopt_ == 1) ||
                          (e.kind == WindowEvent::kEscape && keyopt_ == 2);
        if (!ends || k != iwin_) break;
        if (ifinop_ == 0) {
            close_all();
        } else if (ifinop_ == 1) {
            quit_ = true;
        }
        break;
    }
    default: break;
    }
}

// ---- geometry -----------------------------------------------------------------------

WindowGeometry qqwgeo(const ScreenMetrics& m, int n, bool full, float pagew, float pageh,
                      bool size_fixed, bool pos_fixed, WindowGeometry given) {
    WindowGeometry out = given;
    const double ratio = pageh > 0.0f ? static_cast<double>(pagew) / pageh : 1.0;
    if (!size_fixed) {
        if (pagew > pageh) {
            out.w = full ? m.width - 2 * m.frame_w : 2 * m.width / 3;
            out.h = rnd(out.w / ratio);
        } else {
            out.h = full ? m.height - m.caption - 2 * m.frame_h + 1 : 2 * m.height / 3;
            out.w = rnd(ratio * out.h);
        }
    }
    out.w = std::clamp(out.w, 2, 32767);
    out.h = std::clamp(out.h, 2, 32767);
    if (!pos_fixed) {
        // Window 5 in the middle, 3 and 4 at the left, 6 to 8 cascaded from
        // the upper left, the others at the right; 2 and 3 at the top, the
        // others at the bottom.
        if (n == 5) {
            out.x = (m.width - out.w) / 2;
        } else if (n == 3 || n == 4) {
            out.x = m.frame_w;
        } else if (n >= 6 && n <= 8) {
            out.x = (n - 5) * m.width / 16 + m.frame_w;
        } else {
            out.x = m.width - out.w - m.frame_w;
        }
        if (n == 5) {
            out.y = (m.height - out.h) / 2 + m.caption / 2;
        } else if (n == 2 || n == 3) {
            out.y = m.frame_h + m.caption - 1;
        } else if (n >= 6 && n <= 8) {
            out.y = m.frame_h + m.caption + (n - 5) * m.height / 16 - 1;
        } else {
            out.y = m.height - out.h - m.frame_h;
        }
        out.x = std::max(out.x, m.frame_w);
        out.y = std::max(out.y, m.frame_h + m.caption - 1);
    }
    return out;
}

// ---- the driver of one plot ----------------------------------------------------------

class ScreenDriver final : public Driver {
  public:
    ScreenDriver(std::shared_ptr<ScreenSession> session, int n, bool full)
        : s_(std::move(session)), n_(std::clamp(n, 1, ScreenSession::kSlots)), full_(full) {
        info_.kind = DeviceInfo::Kind::screen;
        info_.polygons = DeviceInfo::Polygons::filled;
        info_.reverses = true;
    }

    ~ScreenDriver() override {
        // A plot abandoned without disfin leaves no window behind.
        if (!finished_) {
            s_->close_all();
            if (!s_->any_open()) s_->sys_.reset();
        }
    }

    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return scale_; }
    int colour_depth() const override { return s_->m_.depth; }

    void begin(const std::string&) override {
        float pw, ph;
        oriented_page(pw, ph);
        WindowGeometry geo{g.dev.winx, g.dev.winy, g.dev.imgw, g.dev.imgh};
        qqwini(pw, ph, g.dev.winopt, geo, 0, g.dev.bgmode);
        scale_ = pixel_scale(geo.w, geo.h);
    }

    void pen(float x, float y, PenOp op) override {
        double dx = 0.0, dy = 0.0;
        page_to_device(Layout::pixels, scale_, x, y, dx, dy);
        qqwdrw(rnd(dx), rnd(dy), op);
        if (op == PenOp::flush) {
            if (PlotWindow* w = s_->current_window()) w->show();
        }
    }

    void colour(int index, Rgb) override { qqwclr(index); }

    bool box(float x1, float y1, float x2, float y2, int index, Rgb) override {
        double b[4];
        pixel_box(scale_, x1, y1, x2, y2, b);
        const int ix1 = rnd(b[0]), iy1 = rnd(b[1]), ix2 = rnd(b[2]), iy2 = rnd(b[3]);
        qqwfll(ix1, iy1, ix2 + 1 - ix1, iy2 + 1 - iy1, index);
        return true;
    }

    void palette(int type, const std::uint32_t* table) override { qqwvlt(type, table); }

    bool polygon(const float* x, const float* y, int n) override {
        qqwpol(n, 0, 1);
        for (int i = 0; i < n; ++i) {
            double dx = 0.0, dy = 0.0;
            page_to_device(Layout::pixels, scale_, x[i], y[i], dx, dy);
            qqwpol(static_cast<int>(dx), static_cast<int>(dy), 2);
        }
        qqwpol(0, 0, 9);
        return true;
    }

    void erase() override { qqwers(); }

    FileResult finish() override {
        finished_ = true;
        const State::Screen& o = g.screen;
        qqwfin(o.waitopt == 4 ? 10 * o.delay + 4 : 10 * o.keyopt + o.waitopt);
        return {};
    }

    // The colour an index is drawn in, after the palette mode's mapping.
    Rgb8 screen_colour(int index) const;

  private:
    // Chooses the palette mode (once per run) and opens the plot's window
    // (qqwopn). geo: the caller's position and size in, the window's client
    // position and size out.
    void qqwini(float pagew, float pageh, int winopt, WindowGeometry& geo, int clrmd, int bg);
    void qqwopn(float pagew, float pageh, int winopt, WindowGeometry& geo, int bg);
    // Polyline batching: move, draw, flush.
    void qqwdrw(int x, int y, PenOp op);
    void qqwclr(int index);
    // Fills w x h pixels from (x, y) with colour index.
    void qqwfll(int x, int y, int w, int h, int index);
    // Polygon: op 1 begins one of a points, op 2 adds (a, b), op 9 fills it.
    void qqwpol(int a, int b, int op);
    void qqwers();
    void qqwvlt(int type, const std::uint32_t* table);
    // End of the plot: shows the picture, sets the title and waits by option
    // = 10 * key option + end mode (end mode 4: 10 * delay + 4).
    void qqwfin(int option);
    // Draws the batch and starts a new one at its last point.
    void flush_batch();

    std::shared_ptr<ScreenSession> s_;
    int n_;
    bool full_;
    DeviceInfo info_;
    float scale_ = 1.0f;
    bool finished_ = false;
    bool quit_posted_ = false; // no picture could be made: nothing to wait for
    int nclrtb_ = 1, iclrmd_ = 0;
    Rgb8 colors_[256];
    Rgb8 pen_ = kWhite;     // colour of lines
    Rgb8 iclrref_ = kWhite; // the current colour (lines, single pixels, polygons)
    int px_[kBatch] = {}, py_[kBatch] = {};
    int nray_ = 0;
    bool single_ = false;
    std::vector<int> polx_, poly_;
};

void ScreenDriver::qqwopn(float pagew, float pageh, int winopt, WindowGeometry& geo, int bg) {
    ScreenSession& s = *s_;
    const int n = n_;
    geo = qqwgeo(s.m_, n, full_, pagew, pageh, winopt != 0, winopt == 1, geo);
    ScreenSession::Slot& slot = s.slots_[n - 1];
    s.close_slot(slot);
    slot.open = 1;
    if (s.iwin_ != 0 && s.iwin_ != n) {
        ScreenSession::Slot& other = s.slots_[s.iwin_ - 1];
        if (other.open != 0 && !other.user_title) s.set_title(s.iwin_, window_text("", s.iwin_));
    }
    slot.title = window_text(" / Working", n);
    slot.win = s.sys_->create(geo.x, geo.y, geo.w, geo.h, slot.title, bg == 2);
    s.iwin_ = s.iwin1_ = n;
    nray_ = 0;
    quit_posted_ = false;
    slot.bw = geo.w;
    slot.bh = geo.h;
    if (!slot.win->has_picture()) {
        message_box("disini", "Cannot create Bitmap");
        quit_posted_ = true;
        return;
    }
    qqwfll(0, 0, geo.w, geo.h, 0);
}

void ScreenDriver::qqwini(float pagew, float pageh, int winopt, WindowGeometry& geo, int clrmd,
                          int bg) {
    ScreenSession& s = *s_;
    s.connect(); // the driver exists only with a display
    s.m_ = s.sys_->metrics();
    iclrmd_ = clrmd;
    if (!s.palette_chosen_) {
        s.palette_chosen_ = true;
        const int depth = s.m_.depth;
        if (depth == 4) {
            s.iclrop_ = 2;
            s.ifc_ = 16;
        } else if (depth == 8) {
            s.iclrop_ = 1;
            s.ifc_ = 129;
        } else if (depth > 8) {
            s.iclrop_ = 3;
            s.ifc_ = 256;
        } else {
            s.iclrop_ = 0;
            s.ifc_ = 0;
        }
    }
    // Until the plot's table arrives, the page is drawn in the background.
    if (s.iclrop_ == 3) colors_[0] = bg == 2 ? kWhite : Rgb8{};
    qqwopn(pagew, pageh, winopt, geo, bg);
}

Rgb8 ScreenDriver::screen_colour(int index) const {
    const ScreenSession& s = *s_;
    const int i = ((index % 256) + 256) % 256;
    switch (s.iclrop_) {
    case 3: return colors_[i];
    case 1:
    case 2: {
        int p;
        if (nclrtb_ == 0) {
            p = i == 0 ? 0 : (i % 8 == 0 ? 8 : i % 8);
        } else if (nclrtb_ == 7) {
            p = i % 16;
        } else if (s.iclrop_ == 1) {
            p = iclrmd_ == 0 ? (i + 1) / 2 : (iclrmd_ == 2 ? i % 128 : i);
        } else if (iclrmd_ != 0) {
            p = i % 16;
        } else {
            p = i == 0 ? 0 : (i == 255 ? 15 : static_cast<int>((i - 1) * 13.0 / 253.0 + 1.5));
        }
        return colors_[p];
    }
    default: return i == 0 ? Rgb8{} : kWhite; // no colour control
    }
}

void ScreenDriver::qqwdrw(int x, int y, PenOp op) {
    if (op == PenOp::draw) {
        if (nray_ > 0 && (x != px_[nray_ - 1] || y != py_[nray_ - 1])) {
            px_[nray_] = x;
            py_[nray_] = y;
            ++nray_;
        }
        single_ = false;
        if (nray_ < kBatch) return;
    }
    if (PlotWindow* w = s_->current_window()) {
        if (nray_ >= 2) {
            w->polyline(px_, py_, nray_, pen_);
        } else if (nray_ == 1 && !single_) {
            w->point(px_[0], py_[0], iclrref_);
        }
    }
    if (op == PenOp::flush && nray_ > 0) {
        x = px_[nray_ - 1];
        y = py_[nray_ - 1];
    }
    px_[0] = x;
    py_[0] = y;
    nray_ = 1;
    single_ = true;
}

void ScreenDriver::flush_batch() {
    if (nray_ > 0) qqwdrw(px_[nray_ - 1], py_[nray_ - 1], PenOp::flush);
}

void ScreenDriver::qqwclr(int index) {
    if (s_->iclrop_ == 0) return;
    flush_batch();
    pen_ = screen_colour(index);
    iclrref_ = pen_;
}

void ScreenDriver::qqwfll(int x, int y, int w, int h, int index) {
    // Lines still in the batch come first, as they were drawn first. The
    // current colour stays: pixels and polygons after a box keep it.
    flush_batch();
    if (PlotWindow* win = s_->current_window()) win->fill_rect(x, y, w, h, screen_colour(index));
}

void ScreenDriver::qqwpol(int a, int b, int op) {
    if (op == 1) {
        polx_.clear();
        poly_.clear();
        if (a > 0 && a < (1 << 22)) {
            polx_.reserve(static_cast<std::size_t>(a));
            poly_.reserve(static_cast<std::size_t>(a));
        }
    } else if (op == 2) {
        polx_.push_back(a);
        poly_.push_back(b);
    } else if (op == 9) {
        flush_batch();
        PlotWindow* win = s_->current_window();
        if (win != nullptr && !polx_.empty()) {
            win->fill_polygon(polx_.data(), poly_.data(), static_cast<int>(polx_.size()), iclrref_,
                              pen_);
        }
        polx_.clear();
        poly_.clear();
    }
}

void ScreenDriver::qqwers() {
    const ScreenSession& s = *s_;
    flush_batch();
    if (s.iwin_ >= 1 && s.iwin_ <= ScreenSession::kSlots) {
        const ScreenSession::Slot& slot = s.slots_[s.iwin_ - 1];
        qqwfll(0, 0, slot.bw, slot.bh, 0);
    }
}

void ScreenDriver::qqwvlt(int type, const std::uint32_t* table) {
    const ScreenSession& s = *s_;
    if (table == nullptr) return;
    nclrtb_ = type;
    if (s.iclrop_ == 0) return;
    int n = s.ifc_;
    if (type == 0) n = 9;
    if (type == 7) n = 16;
    for (int b = 0; b < n && b < 256; ++b) {
        int c = b;
        if (s.ifc_ != 256 && type != 0 && type != 7) {
            if (s.iclrop_ == 2) {
                c = b == 0 ? 0 : (b == 15 ? 255 : static_cast<int>((b - 1) * 253.0 / 13.0 + 1.5));
                if (iclrmd_ != 0) c = b % 16;
            } else if (iclrmd_ == 0 && b > 0) {
                c = 2 * b - 1;
            }
        }
        c = std::clamp(c, 0, 255);
        colors_[b] = {static_cast<int>((table[c] >> 16) & 0xFF),
                      static_cast<int>((table[c] >> 8) & 0xFF), static_cast<int>(table[c] & 0xFF)};
    }
}

void ScreenDriver::qqwfin(int option) {
    ScreenSession& s = *s_;
    const int endmode = ((option % 10) + 10) % 10;
    const int key = option / 10;
    s.ifinop_ = endmode;
    s.keyopt_ = endmode == 4 ? 0 : key;
    if (nray_ > 0) qqwdrw(px_[nray_ - 1], py_[nray_ - 1], PenOp::move);
    qqwdrw(0, 0, PenOp::flush);
    s.iwin_ = s.iwin1_;
    if (s.iwin_ < 1 || s.iwin_ > ScreenSession::kSlots) return;
    ScreenSession::Slot& slot = s.slots_[s.iwin_ - 1];
    if (!slot.win) return;
    slot.win->show();
    if (!slot.user_title) {
        const int n = s.iwin_;
        if (endmode == 2) {
            s.set_title(n, window_text("", n));
        } else if (endmode == 4) {
            s.set_title(n, window_text(" / Delay time ", n) + fmt_int(key) + " seconds");
        } else if (key == 1) {
            s.set_title(n, window_text(" / Click MB2 or RETURN to continue ...", n));
        } else if (key == 2) {
            s.set_title(n, window_text(" / Click MB2 or ESC to continue ...", n));
        } else {
            s.set_title(n, window_text(" / Click MB2 to continue ...", n));
        }
    }
    if (endmode == 2 || s.ishow_ == 0) return; // the window stays

    s.waiting_ = true;
    s.quit_ = false;
    if (quit_posted_) {
        quit_posted_ = false;
        s.close_all();
    }
    if (endmode == 3) s.close_all();
    if (endmode == 4) {
        // The delay runs on the elapsed time; the window is repainted meanwhile.
        using clock = std::chrono::steady_clock;
        const auto end = clock::now() + std::chrono::seconds(std::max(key, 0));
        for (auto now = clock::now(); now <= end; now = clock::now()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
            const WindowEvent e = s.sys_->next_event(static_cast<int>(left.count()) + 1);
            if (e.kind == WindowEvent::kExpose) s.disproc(e);
        }
        s.close_all();
    }
    while (!s.quit_ && s.any_open()) s.disproc(s.sys_->next_event(-1));
    s.waiting_ = false;
    s.quit_ = false;
    // Nothing left on the screen: the connection is closed too.
    if (!s.any_open()) s.sys_.reset();
}

std::unique_ptr<Driver> make_screen_driver(std::shared_ptr<ScreenSession>& session, int n,
                                           bool full) {
    if (!session) session = std::make_shared<ScreenSession>();
    if (!session->connect()) return nullptr;
    return std::make_unique<ScreenDriver>(session, n, full);
}

} // namespace plotix::detail
