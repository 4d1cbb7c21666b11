// The screen window driver on a scripted window system: geometry, colour
// mapping, polyline batching, titles and the ends of the wait; and the
// missing display.
#include <cstdlib>
#include <deque>

#include "core/colour.h"
#include "drivers/screen.h"
#include "pipeline/pipeline.h"
#include "pipeline/style.h"
#include "plotix.h"
#include "test_support.h"

using namespace plotix_test;
namespace d = plotix::detail;

namespace {

std::string rgb(d::Rgb8 c) {
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

// What the windows were asked to do, one line per call.
struct Script {
    std::vector<std::string> log;
    std::deque<d::WindowEvent> events;
    d::ScreenMetrics metrics{1024, 768, 24, 20, 4, 4};
    bool picture = true;
    long next_id = 100;
    long last_id = 0;

    // Calls of one kind (the first word of the line).
    std::vector<std::string> of(const std::string& kind) const {
        std::vector<std::string> out;
        for (const auto& l : log) {
            if (l.rfind(kind + " ", 0) == 0 || l == kind) out.push_back(l);
        }
        return out;
    }
    void push(d::WindowEvent::Kind k, int button = 0, long id = 0) {
        events.push_back({k, id != 0 ? id : last_id, button});
    }
};

class FakeWindow final : public d::PlotWindow {
  public:
    FakeWindow(Script& s, long id) : s_(s), id_(id) {}
    ~FakeWindow() override { s_.log.push_back("destroy " + std::to_string(id_)); }
    long id() const override { return id_; }
    bool has_picture() const override { return s_.picture; }
    void set_title(const std::string& t) override { s_.log.push_back("title " + t); }
    void polyline(const int* x, const int* y, int n, d::Rgb8 c) override {
        std::string l = "polyline " + std::to_string(n) + " " + rgb(c);
        for (int i = 0; i < n; ++i) l += " " + std::to_string(x[i]) + "/" + std::to_string(y[i]);
        s_.log.push_back(l);
    }
    void point(int x, int y, d::Rgb8 c) override {
        s_.log.push_back("point " + std::to_string(x) + "/" + std::to_string(y) + " " + rgb(c));
    }
    void fill_rect(int x, int y, int w, int h, d::Rgb8 c) override {
        s_.log.push_back("fill " + std::to_string(x) + " " + std::to_string(y) + " " +
                         std::to_string(w) + " " + std::to_string(h) + " " + rgb(c));
    }
    void fill_polygon(const int* x, const int* y, int n, d::Rgb8 f, d::Rgb8 o) override {
        std::string l = "polygon " + rgb(f) + " " + rgb(o);
        for (int i = 0; i < n; ++i) l += " " + std::to_string(x[i]) + "/" + std::to_string(y[i]);
        s_.log.push_back(l);
    }
    void show() override { s_.log.push_back("show"); }

  private:
    Script& s_;
    long id_;
};

class FakeSystem final : public d::WindowSystem {
  public:
    explicit FakeSystem(Script& s) : s_(s) { s_.log.push_back("open"); }
    ~FakeSystem() override { s_.log.push_back("close"); }
    d::ScreenMetrics metrics() override { return s_.metrics; }
    std::unique_ptr<d::PlotWindow> create(int x, int y, int w, int h, const std::string& title,
                                          bool white) override {
        s_.last_id = s_.next_id++;
        s_.log.push_back("create " + std::to_string(x) + " " + std::to_string(y) + " " +
                         std::to_string(w) + " " + std::to_string(h) + " " + title +
                         (white ? " white" : ""));
        return std::make_unique<FakeWindow>(s_, s_.last_id);
    }
    d::WindowEvent next_event(int timeout_ms) override {
        if (s_.events.empty()) {
            if (timeout_ms >= 0) return {}; // the time ran out
            ADD_FAILURE() << "the wait asked for more events";
            return {d::WindowEvent::kDestroyed, s_.last_id, 0};
        }
        const d::WindowEvent e = s_.events.front();
        s_.events.pop_front();
        s_.log.push_back("event " + std::to_string(e.kind));
        return e;
    }

  private:
    Script& s_;
};

struct ScreenTest : PlotixTest {
    Script script;
    void SetUp() override {
        PlotixTest::SetUp();
        d::set_window_system_factory([this] { return std::make_unique<FakeSystem>(script); });
    }
    void TearDown() override {
        PlotixTest::TearDown(); // drops an open plot, its windows and the display
        d::set_window_system_factory({});
    }
    // Closes the windows and the display: the next plot starts a new run.
    void new_run() {
        d::reset_state();
        script = Script{};
    }
    // The colour the screen draws index in: that of a line.
    std::string drawn(int index) {
        plotix::setclr(index);
        plotix::line(0, 0, 100, 0);
        d::qqstrk();
        d::xjdraw(0, 0, d::PenOp::flush);
        const std::string l = script.of("polyline").back();
        return l.substr(11, l.find(' ', 11) - 11);
    }
    void start() {
        plotix::metafl("CONS");
        plotix::disini();
    }
    // disfin without waiting for events.
    void finish() {
        d::g.screen.waitopt = 3;
        plotix::disfin();
    }
};

} // namespace

TEST_F(ScreenTest, WindowSizeAndPlaceByFormat) {
    // The window each format opens on a 1024 x 768 screen. Landscape in the
    // large window: the width of the screen less the frames, height
    // round(1016 / (2969 / 2099)) = 718, at the right and bottom edges.
    auto created = [this](const char* keyword) {
        new_run();
        plotix::metafl(keyword);
        plotix::disini();
        d::g.screen.waitopt = 3;
        plotix::disfin();
        const std::string c = script.of("create").at(0);
        return c.substr(0, c.find(" PLOTIX"));
    };
    EXPECT_EQ(created("CONS"), "create 4 46 1016 718");
    EXPECT_EQ(created("XWND"), "create 4 46 1016 718");
    EXPECT_EQ(created("MET3"), "create 4 46 1016 718");
    EXPECT_EQ(created("XWIN"), "create 338 282 682 482"); // window 1
    EXPECT_EQ(created("XWI1"), "create 338 282 682 482");
    EXPECT_EQ(created("XWI2"), "create 338 23 682 482");
    EXPECT_EQ(created("XWI3"), "create 4 23 682 482");
    EXPECT_EQ(created("XWI4"), "create 4 282 682 482");
    EXPECT_EQ(created("XWI5"), "create 171 153 682 482"); // in the middle
    EXPECT_EQ(created("XWI6"), "create 68 71 682 482");   // cascaded
    EXPECT_EQ(created("XWI7"), "create 132 119 682 482");
    EXPECT_EQ(created("XWI8"), "create 196 167 682 482");
    EXPECT_EQ(script.of("create").at(0), "create 196 167 682 482 PLOTIX 8 / Working");

    // Portrait pages (qqwgeo): the height of the screen less title and frames.
    const d::ScreenMetrics m{1024, 768, 24, 20, 4, 4};
    auto geo = [&](int n, bool full, float w, float h) {
        const d::WindowGeometry r = d::qqwgeo(m, n, full, w, h, false, false, {});
        return std::vector<int>{r.x, r.y, r.w, r.h};
    };
    EXPECT_EQ(geo(1, true, 2099, 2969), (std::vector<int>{496, 23, 524, 741}));
    EXPECT_EQ(geo(2, false, 2099, 2969), (std::vector<int>{658, 23, 362, 512}));
    // Given size and place; the place is kept clear of the title bar.
    d::WindowGeometry r = d::qqwgeo(m, 1, true, 2969, 2099, true, true, {10, 12, 300, 200});
    EXPECT_EQ(std::vector<int>({r.x, r.y, r.w, r.h}), (std::vector<int>{10, 12, 300, 200}));
    r = d::qqwgeo(m, 1, true, 2969, 2099, true, false, {10, 12, 1100, 900});
    EXPECT_EQ(std::vector<int>({r.x, r.y, r.w, r.h}), (std::vector<int>{4, 23, 1100, 900}));
    r = d::qqwgeo(m, 1, true, 2969, 2099, true, true, {0, 0, 100000, -5});
    EXPECT_EQ(std::vector<int>({r.w, r.h}), (std::vector<int>{32767, 2}));
}

TEST_F(ScreenTest, PlotDrawsAndWaitsForMouseButton2) {
    start();
    EXPECT_EQ(console_text(), "");
    EXPECT_EQ(script.log.at(0), "open");
    EXPECT_EQ(script.log.at(1), "create 4 46 1016 718 PLOTIX 1 / Working");
    EXPECT_EQ(script.log.at(2), "fill 0 0 1016 718 0,0,0");
    EXPECT_EQ(d::g.dev.screens->palette_mode(), 3);
    EXPECT_EQ(d::g.dev.screens->title(), "PLOTIX 1 / Working");
    script.log.clear();

    // The page at 717 / 2099 pixels per plot unit.
    const float s = 717.0f / 2099.0f;
    plotix::color("RED");
    plotix::line(100, 100, 1000, 100);
    plotix::color("GREEN"); // flushes the red line first
    d::dbox(0.0f, 0.0f, 9.0f, 9.0f, 30);
    EXPECT_EQ(script.log, (std::vector<std::string>{"polyline 2 255,0,0 34/34 342/34",
                                                    "fill 0 0 4 4 0,0,255"}));
    script.log.clear();

    // Two draws to the point of a move give one pixel, in the current colour
    // (the box did not change it).
    d::xjdraw(5 / s, 5 / s, d::PenOp::move);
    d::xjdraw(5 / s, 5 / s, d::PenOp::draw);
    d::xjdraw(5 / s, 5 / s, d::PenOp::draw);
    d::xjdraw(0, 0, d::PenOp::flush);
    EXPECT_EQ(script.log, (std::vector<std::string>{"point 5/5 0,255,0", "show"}));
    script.log.clear();

    // 120 segments: polylines of 50, 50 and 23 points, each starting at the
    // end of the one before.
    d::xjdraw(0, 0, d::PenOp::move);
    for (int i = 1; i <= 120; ++i) d::xjdraw(i / s, (i % 2) / s, d::PenOp::draw);
    d::xjdraw(0, 0, d::PenOp::flush);
    const auto lines = script.of("polyline");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 27), "polyline 50 0,255,0 0/0 1/1");
    EXPECT_NE(lines[0].find(" 49/1", lines[0].size() - 6), std::string::npos);
    EXPECT_EQ(lines[1].substr(0, 29), "polyline 50 0,255,0 49/1 50/0");
    EXPECT_EQ(lines[2].substr(0, 30), "polyline 23 0,255,0 98/0 99/1 ");
    EXPECT_NE(lines[2].find(" 120/0", lines[2].size() - 7), std::string::npos);
    script.log.clear();

    // sendbf draws what is pending and brings the window up to date.
    plotix::line(0, 0, 30, 0);
    plotix::sendbf();
    EXPECT_EQ(script.log, (std::vector<std::string>{"polyline 2 0,255,0 0/0 10/0", "show"}));
    script.log.clear();

    // A solid polygon.
    plotix::shdpat(16);
    const int x[3] = {0, 30, 0}, y[3] = {0, 0, 30};
    plotix::areaf(x, y, 3);
    EXPECT_EQ(script.of("polygon"),
              (std::vector<std::string>{"polygon 0,255,0 0,255,0 0/0 10/0 0/10"}));
    script.log.clear();

    // disfin: picture shown, title asks for button 2; Return, Esc and button
    // 1 do nothing, a repaint copies the picture again, button 2 ends it.
    script.push(d::WindowEvent::kReturn);
    script.push(d::WindowEvent::kEscape);
    script.push(d::WindowEvent::kButton, 1);
    script.push(d::WindowEvent::kExpose);
    script.push(d::WindowEvent::kButton, 2, 999); // another window: not ours
    script.push(d::WindowEvent::kButton, 2);
    plotix::disfin();
    EXPECT_EQ(script.log,
              (std::vector<std::string>{"show", "title PLOTIX 1 / Click MB2 to continue ...",
                                        "event 3", "event 4", "event 2", "event 1", "show",
                                        "event 2", "event 2", "destroy 100", "close"}));
    EXPECT_TRUE(script.events.empty());
    const std::string box = console_text();
    EXPECT_NE(box.find("Fileformat: CONS"), std::string::npos);
    EXPECT_NE(box.find("Warnings: 0 "), std::string::npos);
}

TEST_F(ScreenTest, OtherEndsOfTheWait) {
    const struct {
        int waitopt, keyopt;
        std::vector<d::WindowEvent::Kind> events;
        const char* title;
        bool stays;
    } cases[] = {
        {0, 0, {d::WindowEvent::kClose}, "PLOTIX 1 / Click MB2 to continue ...", false},
        {0, 0, {d::WindowEvent::kDestroyed}, "PLOTIX 1 / Click MB2 to continue ...", false},
        {0,
         1,
         {d::WindowEvent::kEscape, d::WindowEvent::kReturn},
         "PLOTIX 1 / Click MB2 or RETURN to continue ...",
         false},
        {0,
         2,
         {d::WindowEvent::kReturn, d::WindowEvent::kEscape},
         "PLOTIX 1 / Click MB2 or ESC to continue ...",
         false},
        {1, 0, {d::WindowEvent::kButton}, "PLOTIX 1 / Click MB2 to continue ...", true},
        {3, 0, {}, "PLOTIX 1 / Click MB2 to continue ...", false},
        {2, 0, {}, "PLOTIX 1", true},
    };
    for (const auto& c : cases) {
        new_run();
        start();
        d::g.screen.waitopt = c.waitopt;
        d::g.screen.keyopt = c.keyopt;
        for (auto k : c.events) script.push(k, k == d::WindowEvent::kButton ? 2 : 0);
        plotix::disfin();
        EXPECT_TRUE(script.events.empty()) << c.title;
        EXPECT_EQ(script.of("title").back(), std::string("title ") + c.title);
        EXPECT_EQ(script.of("destroy").empty(), c.stays) << c.title;
        EXPECT_EQ(script.of("close").empty(), c.stays) << c.title;
    }
    // A window that stayed is replaced by the next plot's window.
    script.log.clear();
    start();
    EXPECT_EQ(script.log.at(0), "destroy 100");
    EXPECT_EQ(script.log.at(1), "create 4 46 1016 718 PLOTIX 1 / Working");
    // Delay mode: the title gives the delay; the window goes when it is over.
    d::g.screen.waitopt = 4;
    d::g.screen.delay = 0;
    plotix::disfin();
    EXPECT_EQ(script.of("title").back(), "title PLOTIX 1 / Delay time 0 seconds");
    EXPECT_EQ(script.log.back(), "close");
}

TEST_F(ScreenTest, ColourMappingByScreenDepth) {
    // Direct colour: the table entry itself.
    start();
    EXPECT_EQ(drawn(138), "0,255,0");
    plotix::setvlt("SMAL");
    EXPECT_EQ(drawn(2), "255,0,0");
    finish();

    // 8-bit screen: 129 palette entries from every second colour.
    new_run();
    script.metrics.depth = 8;
    start();
    EXPECT_EQ(d::g.dev.screens->palette_mode(), 1);
    EXPECT_EQ(drawn(138), "0,255,8"); // entry 69 = colour 137
    EXPECT_EQ(drawn(255), "255,255,255");
    plotix::setvlt("SMAL");
    EXPECT_EQ(drawn(10), "255,0,0"); // 10 mod 8 = 2: red
    EXPECT_EQ(drawn(16), "255,0,255");
    finish();

    // 4-bit screen: 16 entries spread over the table.
    new_run();
    script.metrics.depth = 4;
    start();
    EXPECT_EQ(d::g.dev.screens->palette_mode(), 2);
    EXPECT_EQ(drawn(138), "0,255,8"); // entry 8 = colour 137
    EXPECT_EQ(drawn(255), "255,255,255");
    EXPECT_EQ(drawn(0), "0,0,0");
    finish();

    // Monochrome: no colour control, the pen stays white.
    new_run();
    script.metrics.depth = 1;
    start();
    EXPECT_EQ(d::g.dev.screens->palette_mode(), 0);
    plotix::color("RED");
    plotix::line(0, 0, 100, 0);
    d::qqstrk();
    d::xjdraw(0, 0, d::PenOp::flush);
    EXPECT_EQ(script.of("polyline").at(0).substr(0, 24), "polyline 2 255,255,255 0");
    finish();
}

TEST_F(ScreenTest, PictureThatCannotBeMade) {
    script.picture = false;
    start();
    EXPECT_EQ(console_text(), "disini\nCannot create Bitmap\n");
    plotix::line(0, 0, 100, 100);
    plotix::disfin(); // no wait: nothing to show
    EXPECT_TRUE(script.of("polyline").empty());
    EXPECT_EQ(script.log.back(), "close");
}

TEST_F(ScreenTest, AbandonedPlotLeavesNoWindow) {
    start();
    d::reset_state();
    EXPECT_EQ(script.log.back(), "close");
    EXPECT_EQ(script.of("destroy").size(), 1u);
}

TEST_F(PlotixTest, NoDisplayToOpen) {
    // No display named, and a display that does not exist.
    for (const char* name : {static_cast<const char*>(nullptr), ":4242"}) {
        if (name == nullptr) {
            unsetenv("DISPLAY");
        } else {
            setenv("DISPLAY", name, 1);
        }
        plotix::metafl("CONS");
        plotix::disini();
        EXPECT_EQ(console_text(), " <<<< Warning 101: No display available in disini!\n");
        plotix::line(0, 0, 100, 100);
        plotix::disfin();
        EXPECT_NE(console_text().find("Warnings: 1 "), std::string::npos);
    }
    unsetenv("DISPLAY");
}
