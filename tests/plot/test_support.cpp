#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/support.hpp"
#include "core/format.h"
#include "drivers/formats.h"
#include "pipeline/pipeline.h"
#include "plotix.h"

namespace plotix_test {

namespace fs = std::filesystem;

void PlotixTest::SetUp() {
    old_dir_ = fs::current_path();
    std::string tmpl = (fs::temp_directory_path() / "plotix_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    fs::current_path(dir);
    console_ = std::tmpfile();
    ASSERT_NE(console_, nullptr);
    // No test opens a window on a display it happens to find.
    unsetenv("DISPLAY");
    plotix::detail::reset_state();
    plotix::detail::set_console(console_);
    plotix::detail::set_clock(test_common::fixed_time);
    plotix::detail::set_driver_factory({});
    plotix::detail::reset_formats();
}

void PlotixTest::TearDown() {
    plotix::detail::reset_state();
    plotix::detail::set_console(nullptr);
    plotix::detail::set_clock({});
    plotix::detail::set_driver_factory({});
    plotix::detail::reset_formats();
    if (console_ != nullptr) std::fclose(console_);
    fs::current_path(old_dir_);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

std::string PlotixTest::console_text() {
    std::string text = test_common::read_stream(console_);
    std::fclose(console_);
    console_ = std::tmpfile();
    plotix::detail::set_console(console_);
    return text;
}

double Recorder::unit(float v) const {
    const plotix::detail::DeviceInfo::Kind k = info_.kind;
    const bool pixels = k == plotix::detail::DeviceInfo::Kind::screen ||
                        k == plotix::detail::DeviceInfo::Kind::raster;
    return pixels ? double(plotix::detail::rnd(v)) : double(v);
}

void Recorder::pen(float x, float y, plotix::detail::PenOp op) {
    log_->push_back({'v', unit(x), unit(y), static_cast<int>(op)});
}

bool Recorder::polygon(const float* x, const float* y, int n) {
    for (int i = 0; i < n; ++i) log_->push_back({'p', unit(x[i]), unit(y[i]), n});
    return true;
}

void PlotixTest::record() {
    plotix::detail::set_driver_factory([this](int device) {
        return std::make_unique<Recorder>(&events, plotix::detail::make_driver(device)->info(),
                                          screen_depth);
    });
}

void RecordingTest::SetUp() {
    PlotixTest::SetUp();
    record();
    plotix::metafl("CONS");
    plotix::disini();
    events.clear();
}

std::vector<Piece> RecordingTest::pieces() {
    plotix::detail::qqstrk();
    std::vector<Piece> out;
    double x = 0, y = 0;
    for (const Event& e : events) {
        if (e.kind != 'v') continue;
        if (e.op == 2) out.push_back({x, y, e.x, e.y});
        x = e.x;
        y = e.y;
    }
    return out;
}

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

void touch(const fs::path& p) {
    std::ofstream(p, std::ios::binary) << "x";
}

} // namespace plotix_test
