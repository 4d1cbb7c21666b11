#include "test_support.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "common/support.hpp"
#include "core/helpers.h"

namespace fasogram::testing {

ScratchDir::ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fasogram-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, const std::string& contents) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out << contents;
}

std::string ScratchDir::read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ScratchDir::exists(const std::string& name) const {
    return std::filesystem::exists(path_ / name);
}

WorkingDir::WorkingDir(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
}

WorkingDir::~WorkingDir() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
}

PlotConsole::PlotConsole() : file_(std::tmpfile()) {
    if (file_ == nullptr) throw std::runtime_error("tmpfile failed");
    unsetenv("DISPLAY");
    plotix::detail::set_console(file_);
    plotix::detail::set_clock(test_common::fixed_time);
}

PlotConsole::~PlotConsole() {
    plotix::detail::set_console(nullptr);
    plotix::detail::set_clock({});
    std::fclose(file_);
}

std::string PlotConsole::text() const {
    return test_common::read_stream(file_);
}

} // namespace fasogram::testing
