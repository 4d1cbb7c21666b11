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
    // 'v' vertex, 'c' colour (op: index), 'b' box (op: index, corners x, y and
    // x2, y2), 'p' polygon vertex (op: count), 'l' colour table (op: type),
    // 'e' erase, 'f' finish
    char kind;
    double x = 0, y = 0;
    int op = 0;
    double x2 = 0, y2 = 0;
    bool operator==(const Event&) const = default;
};

inline Event mv(double x, double y) {
    return {'v', x, y, 3};
}
inline Event dr(double x, double y) {
    return {'v', x, y, 2};
}

// A driver that records what reaches it; scale 1 makes screen-type device
// units equal to rounded plot units.
struct Recorder final : plotix::detail::Driver {
    explicit Recorder(std::vector<Event>* log) : log_(log) {}
    void begin() override { plotix::detail::g.dev.scale = 1.0f; }
    void vertex(double x, double y, int op) override { log_->push_back({'v', x, y, op}); }
    void colour(int index, int, int, int) override { log_->push_back({'c', 0, 0, index}); }
    void box(double x1, double y1, double x2, double y2, int index, int, int, int) override {
        log_->push_back({'b', x1, y1, index, x2, y2});
    }
    void palette(int type, const std::uint32_t*) override { log_->push_back({'l', 0, 0, type}); }
    void polygon(const int* x, const int* y, int n) override {
        for (int i = 0; i < n; ++i) log_->push_back({'p', double(x[i]), double(y[i]), n});
    }
    void erase() override { log_->push_back({'e'}); }
    void finish() override { log_->push_back({'f'}); }

  private:
    std::vector<Event>* log_;
};

// Runs every test in its own temporary directory with a captured console,
// a fixed clock (05.03.2024 14:07:09) and a fresh plotting state.
class PlotixTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Everything written to the console so far; clears it.
    std::string console_text();
    // Routes the drivers to the recorder.
    void record();
    std::vector<Event> events;
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
