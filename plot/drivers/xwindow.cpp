// The window-system layer on Xlib: one display connection, top-level windows
// with a pixmap each as the off-screen picture, one graphics context per
// window, and the events of the wait loop.
#include "drivers/xwindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

namespace plotix::detail {

namespace {

// Room left around a window for the window manager's title bar and frame.
constexpr int kCaption = 22;
constexpr int kFrame = 4;

WindowSystemFactory& factory() {
    static WindowSystemFactory f;
    return f;
}

// Protocol errors are recorded instead of ending the program (Xlib's default
// handler exits); the code of the last one is kept.
int g_last_error = 0;
int record_error(Display*, XErrorEvent* e) {
    g_last_error = e->error_code;
    return 0;
}

class XWindow;

class XSystem final : public WindowSystem {
  public:
    explicit XSystem(Display* d) : d_(d) {
        old_handler_ = XSetErrorHandler(record_error);
        delete_ = XInternAtom(d_, "WM_DELETE_WINDOW", False);
        protocols_ = XInternAtom(d_, "WM_PROTOCOLS", False);
        const int screen = DefaultScreen(d_);
        visual_ = DefaultVisual(d_, screen);
        colormap_ = DefaultColormap(d_, screen);
    }
    ~XSystem() override {
        XCloseDisplay(d_);
        XSetErrorHandler(old_handler_);
    }

    ScreenMetrics metrics() override {
        const int screen = DefaultScreen(d_);
        ScreenMetrics m;
        m.width = DisplayWidth(d_, screen);
        m.height = DisplayHeight(d_, screen);
        m.depth = DefaultDepth(d_, screen);
        m.caption = kCaption;
        m.frame_h = kFrame;
        m.frame_w = kFrame;
        return m;
    }

    std::unique_ptr<PlotWindow> create(int x, int y, int w, int h, const std::string& title,
                                       bool white_bg) override;

    WindowEvent next_event(int timeout_ms) override {
        for (;;) {
            if (XPending(d_) == 0) {
                pollfd p{ConnectionNumber(d_), POLLIN, 0};
                if (poll(&p, 1, timeout_ms) <= 0) return {};
                if (XPending(d_) == 0) continue;
            }
            XEvent e;
            XNextEvent(d_, &e);
            WindowEvent out;
            out.window = static_cast<long>(e.xany.window);
            switch (e.type) {
            case Expose:
                if (e.xexpose.count != 0) continue;
                out.kind = WindowEvent::kExpose;
                return out;
            case ButtonRelease:
                out.kind = WindowEvent::kButton;
                out.button = static_cast<int>(e.xbutton.button);
                return out;
            case KeyPress: {
                const KeySym k = XLookupKeysym(&e.xkey, 0);
                if (k == XK_Return || k == XK_KP_Enter) {
                    out.kind = WindowEvent::kReturn;
                } else if (k == XK_Escape) {
                    out.kind = WindowEvent::kEscape;
                } else {
                    continue;
                }
                return out;
            }
            case ClientMessage:
                if (e.xclient.message_type != protocols_ ||
                    static_cast<Atom>(e.xclient.data.l[0]) != delete_) {
                    continue;
                }
                out.kind = WindowEvent::kClose;
                return out;
            case DestroyNotify:
                out.window = static_cast<long>(e.xdestroywindow.window);
                out.kind = WindowEvent::kDestroyed;
                return out;
            default: continue;
            }
        }
    }

    Display* display() const { return d_; }
    Atom delete_atom() const { return delete_; }

    // The pixel value of a colour; allocated colours are kept for the run of
    // the connection.
    unsigned long pixel(Rgb8 c) {
        const unsigned long key = static_cast<unsigned long>(c.r) << 16 |
                                  static_cast<unsigned long>(c.g) << 8 |
                                  static_cast<unsigned long>(c.b);
        if (visual_->c_class == TrueColor) {
            return scaled(c.r, visual_->red_mask) | scaled(c.g, visual_->green_mask) |
                   scaled(c.b, visual_->blue_mask);
        }
        auto it = cache_.find(key);
        if (it != cache_.end()) return it->second;
        XColor xc{};
        xc.red = static_cast<unsigned short>(c.r * 257);
        xc.green = static_cast<unsigned short>(c.g * 257);
        xc.blue = static_cast<unsigned short>(c.b * 257);
        xc.flags = DoRed | DoGreen | DoBlue;
        unsigned long v = (c.r + c.g + c.b) > 382 ? WhitePixel(d_, DefaultScreen(d_))
                                                  : BlackPixel(d_, DefaultScreen(d_));
        if (XAllocColor(d_, colormap_, &xc) != 0) v = xc.pixel;
        cache_[key] = v;
        return v;
    }

  private:
    // An 8-bit component placed into a channel mask.
    static unsigned long scaled(int v, unsigned long mask) {
        if (mask == 0) return 0;
        int shift = 0;
        while (((mask >> shift) & 1u) == 0) ++shift;
        const unsigned long max = mask >> shift;
        return ((static_cast<unsigned long>(v) * max + 127) / 255) << shift;
    }

    Display* d_;
    XErrorHandler old_handler_ = nullptr;
    Atom delete_ = 0, protocols_ = 0;
    Visual* visual_ = nullptr;
    Colormap colormap_ = 0;
    std::map<unsigned long, unsigned long> cache_;
};

class XWindow final : public PlotWindow {
  public:
    XWindow(XSystem& sys, int x, int y, int w, int h, const std::string& title, bool white_bg)
        : sys_(sys), w_(w), h_(h) {
        Display* d = sys_.display();
        const int screen = DefaultScreen(d);
        const unsigned long bg = white_bg ? WhitePixel(d, screen) : BlackPixel(d, screen);
        win_ = XCreateSimpleWindow(d, RootWindow(d, screen), x, y, static_cast<unsigned>(w),
                                   static_cast<unsigned>(h), 0, bg, bg);
        XSelectInput(d, win_,
                     ExposureMask | ButtonReleaseMask | KeyPressMask | StructureNotifyMask);
        Atom del = sys_.delete_atom();
        XSetWMProtocols(d, win_, &del, 1);
        // A window of fixed size at the computed place.
        XSizeHints* hints = XAllocSizeHints();
        if (hints != nullptr) {
            hints->flags = PPosition | PSize | PMinSize | PMaxSize;
            hints->x = x;
            hints->y = y;
            hints->width = hints->min_width = hints->max_width = w;
            hints->height = hints->min_height = hints->max_height = h;
            XSetWMNormalHints(d, win_, hints);
            XFree(hints);
        }
        set_title(title);
        gc_ = XCreateGC(d, win_, 0, nullptr);
        // The picture: a pixmap of the client size. A failure (a protocol
        // error such as BadAlloc) leaves the window without one.
        XSync(d, False);
        g_last_error = 0;
        pix_ = XCreatePixmap(d, win_, static_cast<unsigned>(w), static_cast<unsigned>(h),
                             static_cast<unsigned>(DefaultDepth(d, screen)));
        XSync(d, False);
        if (g_last_error != 0) pix_ = 0;
        XMapWindow(d, win_);
        XFlush(d);
    }

    ~XWindow() override {
        Display* d = sys_.display();
        if (pix_ != 0) XFreePixmap(d, pix_);
        XFreeGC(d, gc_);
        XDestroyWindow(d, win_);
        XFlush(d);
    }

    long id() const override { return static_cast<long>(win_); }
    bool has_picture() const override { return pix_ != 0; }

    void set_title(const std::string& title) override {
        XStoreName(sys_.display(), win_, title.c_str());
        XFlush(sys_.display());
    }

    void polyline(const int* x, const int* y, int n, Rgb8 c) override {
        if (pix_ == 0 || n < 1) return;
        points_.resize(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) points_[i] = {coord(x[i]), coord(y[i])};
        colour(c);
        XDrawLines(sys_.display(), pix_, gc_, points_.data(), n, CoordModeOrigin);
    }

    void point(int x, int y, Rgb8 c) override {
        if (pix_ == 0) return;
        colour(c);
        XDrawPoint(sys_.display(), pix_, gc_, coord(x), coord(y));
    }

    void fill_rect(int x, int y, int w, int h, Rgb8 c) override {
        if (pix_ == 0 || w <= 0 || h <= 0) return;
        // Cut to the picture so that the sizes fit the protocol's fields.
        const int x1 = std::max(x, 0), y1 = std::max(y, 0);
        const long x2 = std::min<long>(static_cast<long>(x) + w, w_);
        const long y2 = std::min<long>(static_cast<long>(y) + h, h_);
        if (x2 <= x1 || y2 <= y1) return;
        colour(c);
        XFillRectangle(sys_.display(), pix_, gc_, x1, y1, static_cast<unsigned>(x2 - x1),
                       static_cast<unsigned>(y2 - y1));
    }

    void fill_polygon(const int* x, const int* y, int n, Rgb8 fill, Rgb8 outline) override {
        if (pix_ == 0 || n < 1) return;
        points_.resize(static_cast<std::size_t>(n) + 1);
        for (int i = 0; i < n; ++i) points_[i] = {coord(x[i]), coord(y[i])};
        points_[n] = points_[0];
        colour(fill);
        XFillPolygon(sys_.display(), pix_, gc_, points_.data(), n, Complex, CoordModeOrigin);
        colour(outline);
        XDrawLines(sys_.display(), pix_, gc_, points_.data(), n + 1, CoordModeOrigin);
    }

    void show() override {
        if (pix_ == 0) return;
        XCopyArea(sys_.display(), pix_, win_, gc_, 0, 0, static_cast<unsigned>(w_),
                  static_cast<unsigned>(h_), 0, 0);
        XFlush(sys_.display());
    }

  private:
    // Coordinates are 16-bit in the protocol.
    static short coord(int v) { return static_cast<short>(std::clamp(v, -32768, 32767)); }

    void colour(Rgb8 c) {
        if (has_colour_ && c == current_) return;
        XSetForeground(sys_.display(), gc_, sys_.pixel(c));
        current_ = c;
        has_colour_ = true;
    }

    XSystem& sys_;
    int w_, h_;
    ::Window win_ = 0;
    Pixmap pix_ = 0;
    GC gc_ = nullptr;
    std::vector<XPoint> points_;
    Rgb8 current_;
    bool has_colour_ = false;
};

std::unique_ptr<PlotWindow> XSystem::create(int x, int y, int w, int h, const std::string& title,
                                            bool white_bg) {
    w = std::clamp(w, 1, 32767);
    h = std::clamp(h, 1, 32767);
    return std::make_unique<XWindow>(*this, x, y, w, h, title, white_bg);
}

} // namespace

std::unique_ptr<WindowSystem> open_window_system() {
    if (factory()) return factory()();
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return nullptr;
    Display* d = XOpenDisplay(name);
    if (d == nullptr) return nullptr;
    return std::make_unique<XSystem>(d);
}

void set_window_system_factory(WindowSystemFactory f) {
    factory() = std::move(f);
}

} // namespace plotix::detail
