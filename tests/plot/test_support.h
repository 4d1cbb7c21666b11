// Shared fixture and recording driver of the plotix tests.
#ifndef PLOTIX_TEST_SUPPORT_H
#define PLOTIX_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/helpers.h"
#include "core/state.h"
#include "drivers/driver.h"

namespace plotix_test {

// One call the recording driver received.
struct Event {
    // 'v' pen position (op: the pen operation), 'c' colour (op: index), 'b'
    // box (op: index, corners x, y and x2, y2), 'p' polygon vertex (op:
    // count), 'l' colour table (op: type), 'e' erase, 'f' finish
    char kind;
    double x = 0, y = 0;
    int op = 0;
    double x2 = 0, y2 = 0;
    bool operator==(const Event&) const = default;
};

inline Event mv(double x, double y) {
    return {'v', x, y, static_cast<int>(plotix::detail::PenOp::move)};
}
inline Event dr(double x, double y) {
    return {'v', x, y, static_cast<int>(plotix::detail::PenOp::draw)};
}

// A driver that records what reaches it, described as the device it stands
// for: pen positions and polygon vertices in page plot units, rounded for
// screens and images (their pixels at scale 1), boxes in plot units. It
// takes every box and polygon.
struct Recorder final : plotix::detail::Driver {
    Recorder(std::vector<Event>* log, const plotix::detail::DeviceInfo& info, int depth = 24)
        : log_(log), info_(info), depth_(depth) {}
    const plotix::detail::DeviceInfo& info() const override { return info_; }
    void begin(const std::string& file) override { file_ = file; }
    float scale() const override { return 1.0f; }
    void pen(float x, float y, plotix::detail::PenOp op) override;
    void colour(int index, plotix::detail::Rgb) override { log_->push_back({'c', 0, 0, index}); }
    bool box(float x1, float y1, float x2, float y2, int index, plotix::detail::Rgb) override {
        log_->push_back({'b', x1, y1, index, x2, y2});
        return true;
    }
    bool polygon(const float* x, const float* y, int n) override;
    void palette(int type, const std::uint32_t*) override { log_->push_back({'l', 0, 0, type}); }
    void erase() override { log_->push_back({'e'}); }
    int colour_depth() const override { return depth_; }
    plotix::detail::FileResult finish() override {
        log_->push_back({'f'});
        return {};
    }
    std::string file() const override { return file_; }

  private:
    double unit(float v) const;
    std::vector<Event>* log_;
    plotix::detail::DeviceInfo info_;
    int depth_;
    std::string file_;
};

// Runs every test in its own temporary directory with a captured console,
// a fixed clock (05.03.2024 14:07:09) and a fresh plotting state.
class PlotixTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Everything written to the console so far; clears it.
    std::string console_text();
    // Routes the drivers to the recorder (described as the device of the
    // format).
    void record();
    std::vector<Event> events;
    int screen_depth = 24; // bits per pixel of the recorder's screen
    std::filesystem::path dir;

  private:
    std::filesystem::path old_dir_;
    std::FILE* console_ = nullptr;
};

// A drawn piece of line between two device points.
struct Piece {
    double x1, y1, x2, y2;
    bool operator==(const Piece&) const = default;
};

// The recording driver behind the screen transform (CONS: rounded plot units
// at scale 1), with the plot open and the events of the opening cleared.
class RecordingTest : public PlotixTest {
  protected:
    void SetUp() override;
    // The pieces of line the driver has drawn, after stroking the pen buffer.
    std::vector<Piece> pieces();
};

std::string read_file(const std::filesystem::path& p);
std::vector<std::string> split_lines(const std::string& text);
void touch(const std::filesystem::path& p);

} // namespace plotix_test

#endif
