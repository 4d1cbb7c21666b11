#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace fasogram::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void write(const std::string& name, const std::string& contents) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

// Makes `dir` the current directory (where the graph files are written)
// until the object goes away.
class WorkingDir {
  public:
    explicit WorkingDir(const std::filesystem::path& dir);
    ~WorkingDir();
    WorkingDir(const WorkingDir&) = delete;
    WorkingDir& operator=(const WorkingDir&) = delete;

  private:
    std::filesystem::path old_;
};

// Catches what the plotting library writes on the console (its warnings and
// summary boxes) while the object lives, with the library clock fixed at
// 05.03.2024 14:07:09, and makes sure no screen is opened.
class PlotConsole {
  public:
    PlotConsole();
    ~PlotConsole();
    PlotConsole(const PlotConsole&) = delete;
    PlotConsole& operator=(const PlotConsole&) = delete;

    // Everything written so far.
    std::string text() const;

  private:
    std::FILE* file_ = nullptr;
};

} // namespace fasogram::testing
