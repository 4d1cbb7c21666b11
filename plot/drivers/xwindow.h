// The window-system layer of the screen driver: a connection to the display,
// top-level windows with a settable title, an off-screen picture per window
// that all drawing goes to, the copy of the picture to the window, and the
// events the driver's wait loop needs. The X11 calls sit in xwindow.cpp only.
#ifndef PLOTIX_DRIVERS_XWINDOW_H
#define PLOTIX_DRIVERS_XWINDOW_H

#include <functional>
#include <memory>
#include <string>

namespace plotix::detail {

// Facts about the screen, read once per initialisation.
struct ScreenMetrics {
    int width = 0, height = 0; // pixels
    int depth = 0;             // bits per pixel
    int caption = 0;           // height of a window title bar
    int frame_h = 0, frame_w = 0;
};

struct Rgb8 {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb8&) const = default;
};

// An event of one of the windows.
struct WindowEvent {
    enum Kind { kNone, kExpose, kButton, kReturn, kEscape, kClose, kDestroyed };
    Kind kind = kNone;
    long window = 0; // id of the window it concerns
    int button = 0;  // for kButton
};

// One top-level window and its off-screen picture of the client size.
class PlotWindow {
  public:
    virtual ~PlotWindow() = default; // destroys the window and the picture
    virtual long id() const = 0;
    // False when the picture could not be made: drawing does nothing then.
    virtual bool has_picture() const = 0;
    virtual void set_title(const std::string& title) = 0;
    // Drawing into the picture, in pixels from its upper left corner.
    virtual void polyline(const int* x, const int* y, int n, Rgb8 c) = 0;
    virtual void point(int x, int y, Rgb8 c) = 0;
    // w x h pixels from (x, y).
    virtual void fill_rect(int x, int y, int w, int h, Rgb8 c) = 0;
    virtual void fill_polygon(const int* x, const int* y, int n, Rgb8 fill, Rgb8 outline) = 0;
    // Copies the whole picture to the window.
    virtual void show() = 0;
};

// A connection to the display.
class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    virtual ScreenMetrics metrics() = 0;
    // A window whose client area is w x h pixels at (x, y) on the screen;
    // white_bg chooses the background shown before the first copy.
    virtual std::unique_ptr<PlotWindow> create(int x, int y, int w, int h, const std::string& title,
                                               bool white_bg) = 0;
    // The next event, waiting at most timeout_ms (negative: without limit);
    // None when the time ran out.
    virtual WindowEvent next_event(int timeout_ms) = 0;
};

// Opens the display named by the environment; nullptr when there is none.
std::unique_ptr<WindowSystem> open_window_system();

// Test hook: when set, replaces open_window_system.
using WindowSystemFactory = std::function<std::unique_ptr<WindowSystem>()>;
void set_window_system_factory(WindowSystemFactory f);

} // namespace plotix::detail

#endif
