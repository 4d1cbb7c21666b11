#include "test_support.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

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
    plotix::detail::set_clock([] {
        std::tm tm{};
        tm.tm_mday = 5;
        tm.tm_mon = 2;
        tm.tm_year = 124;
        tm.tm_hour = 14;
        tm.tm_min = 7;
        tm.tm_sec = 9;
        return tm;
    });
}

PlotConsole::~PlotConsole() {
    plotix::detail::set_console(nullptr);
    plotix::detail::set_clock({});
    std::fclose(file_);
}

std::string PlotConsole::text() const {
    std::fflush(file_);
    std::string out;
    std::rewind(file_);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    std::fseek(file_, 0, SEEK_END);
    return out;
}

} // namespace fasogram::testing
