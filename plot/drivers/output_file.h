// The output file of a plot, written by every file driver. Its error is
// sticky: the first failure to create, write, flush or close it is kept with
// its system error number, later writes are dropped, and the file never
// appears under its name unless it was written completely. It is written as
// a temporary file beside its name and given the name when it is closed.
#ifndef PLOTIX_DRIVERS_OUTPUT_FILE_H
#define PLOTIX_DRIVERS_OUTPUT_FILE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace plotix::detail {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile(); // a file not closed by then is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Starts the file for name, or for a free version of it when a file of
    // that name exists (gfilnn). False when it cannot be created.
    bool create(const std::string& name);
    // The name the file gets (a version of the one given to create).
    const std::string& name() const { return name_; }

    void write(const void* bytes, std::size_t n);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // Hands what is buffered to the system.
    bool flush();
    // Flushes and closes the file and gives it its name (a free version,
    // should a file of that name have appeared meanwhile). True when the
    // file is complete under its name; on any failure, now or before, the
    // file is removed.
    bool close();
    // Gives the file up: removes it.
    void discard();
    // Records a failure from outside (errnum: a system error number); the
    // file will be removed at close.
    void fail(int errnum);

    bool is_open() const { return f_ != nullptr; }
    bool ok() const { return errnum_ == 0; }
    int error() const { return errnum_; } // 0 while all is well

  private:
    std::FILE* f_ = nullptr;
    std::string name_, temp_;
    int errnum_ = 0;
};

} // namespace plotix::detail

#endif
