// The screen window driver: a window per window number 1..8, drawing into an
// off-screen picture that is copied to the window when the plot ends and on
// every repaint, and the wait at disfin until the user dismisses the picture
// (mouse button 2 or closing the window).
//
// The windows outlive the plot that opened them (a plot without the wait
// leaves its window on the screen, and the next plot to the same window
// number replaces it): they, the connection to the display and the palette
// mode, chosen once per run, belong to the screen session. Everything else
// belongs to the driver of one plot.
#ifndef PLOTIX_DRIVERS_SCREEN_H
#define PLOTIX_DRIVERS_SCREEN_H

#include <memory>
#include <string>

#include "drivers/driver.h"
#include "drivers/xwindow.h"

namespace plotix::detail {

struct WindowGeometry {
    int x = 0, y = 0, w = 0, h = 0;
};

// Client size and position of window n (1..8) for a page of pagew x pageh
// plot units; full: the large window of the formats "CONS" and "XWND". The
// size and the position are taken from given when size_fixed or pos_fixed.
WindowGeometry qqwgeo(const ScreenMetrics& m, int n, bool full, float pagew, float pageh,
                      bool size_fixed, bool pos_fixed, WindowGeometry given);

class ScreenSession {
  public:
    ~ScreenSession(); // closes every window, the connection last

    // Palette mode: 0 no colour control, 1 129 entries (8-bit screens), 2 16
    // entries (4-bit screens), 3 direct colour.
    int palette_mode() const { return iclrop_; }
    // The title of the current window (empty when there is none).
    std::string title() const;
    // Opens the display if needed; false when there is none.
    bool connect();

  private:
    friend class ScreenDriver;
    struct Slot {
        int open = 0; // 0 closed, 1 open
        bool user_title = false;
        std::string title;
        std::unique_ptr<PlotWindow> win;
        int bw = 0, bh = 0; // picture size
    };
    static constexpr int kSlots = 8;

    PlotWindow* current_window();
    void close_slot(Slot& slot);
    void close_all();
    bool any_open() const;
    int slot_of(long id) const;
    void set_title(int n, const std::string& title);
    void disproc(const WindowEvent& e);

    // The connection is declared first, so that it is closed after the windows.
    std::unique_ptr<WindowSystem> sys_;
    ScreenMetrics m_;
    int iclrop_ = 0, ifc_ = 0;
    bool palette_chosen_ = false;
    int ishow_ = 1;
    Slot slots_[kSlots];
    int iwin_ = 0, iwin1_ = 0; // current window and the plot's window (1..8, 0 none)
    int ifinop_ = 0, keyopt_ = 0;
    bool waiting_ = false, quit_ = false;
};

// The screen driver of window n (1..8; full: the large window), or nullptr
// when no display can be opened. The session is made when there is none.
std::unique_ptr<Driver> make_screen_driver(std::shared_ptr<ScreenSession>& session, int n,
                                           bool full);

} // namespace plotix::detail

#endif
