// The output file of a plot, written by every file driver. Its error is
// sticky: the first failure to create, write, flush or close it is kept with
// its system error number, later writes are dropped, and the file never
// appears under its name unless it was written completely. It is written as
// a temporary file of an unpredictable name in the directory it goes to,
// created by this process alone (never through a symbolic link), and given
// its name when it is closed; the process's umask applies to a new file.
#ifndef PLOTIX_DRIVERS_OUTPUT_FILE_H
#define PLOTIX_DRIVERS_OUTPUT_FILE_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace plotix::detail {

// What becomes of a file that exists under the name (see filmod).
enum class Existing {
    version, // it stays; the new file takes a free version of the name (gfilnn)
    replace, // the complete new file replaces it, with its mode and owner
};
// The rule chosen by filmod.
Existing existing_rule();

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile(); // a file not closed by then is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Starts the file for name by the rule of filmod, or by the rule given.
    // False when it cannot be created (error() tells why).
    bool create(const std::string& name);
    bool create(const std::string& name, Existing rule);
    // The name the file gets (a version of the one given to create).
    const std::string& name() const { return name_; }

    void write(const void* bytes, std::size_t n);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // Hands what is buffered to the system.
    bool flush();
    // Flushes the file to the disk, closes it and gives it its name (with
    // "version", a free version should a file of that name have appeared
    // meanwhile). True when the file is complete under its name; on any
    // failure, now or before, the file is removed.
    bool close();
    // Gives the file up: removes it.
    void discard();
    // Records a failure from outside (errnum: a system error number); the
    // file will be removed at close.
    void fail(int errnum);

    bool is_open() const { return f_ != nullptr; }
    bool ok() const { return errnum_ == 0; }
    int error() const { return errnum_; } // 0 while all is well
    // The temporary file while the file is written (empty otherwise).
    const std::string& temporary() const { return temp_; }

  private:
    bool settle_target(Existing rule);
    bool open_temporary();
    void keep_mode_and_owner();
    bool place();

    std::FILE* f_ = nullptr;
    std::string name_;   // the name given (or its version)
    std::string target_; // the file that gets the contents: name_, or where its links lead
    std::string temp_;
    Existing rule_ = Existing::version;
    int errnum_ = 0;
};

// Creates a new file of a free version of name (gfilnn) for a stream the
// caller writes and closes, such as the error file: only a file this call
// makes is opened, never an existing one nor one through a symbolic link.
// nullptr with errno set when it cannot be created.
std::FILE* create_new_file(std::string& name);

// Whether the protection of shared directories lets a symbolic link (link,
// whose status is st) be followed: not when it lies in a sticky
// world-writable directory and belongs neither to the effective user nor to
// the directory's owner.
bool may_follow(const std::string& link, const struct stat& st);

} // namespace plotix::detail

#endif
