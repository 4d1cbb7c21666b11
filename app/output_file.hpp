// Output files that appear complete or not at all.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace fasogram {

// A file written under a temporary name in the directory of its final name
// and renamed to it by commit(), so that an existing file is replaced only
// by a complete one.  Without commit() the temporary file is removed.  A
// symbolic link is followed (the file it names is replaced), and something
// other than a regular file (a device such as /dev/null, a pipe) is written
// directly.  Every failure raises FatalError naming `name` and the system's
// reason.
class ReplacingFile {
  public:
    ReplacingFile(const std::filesystem::path& target, std::string_view name);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    void write(std::string_view text);
    void commit();

  private:
    [[noreturn]] void fail(int error);

    std::filesystem::path target_;
    std::string temporary_; // empty when writing directly
    std::string name_;
    std::FILE* stream_ = nullptr;
};

// Puts the finished file `from` in place as `to`: renamed, or copied (as by
// ReplacingFile) when the two lie on different file systems or `to` is not a
// regular file; `from` is gone afterwards.  A failure
// raises FatalError naming `name`.
void move_into_place(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string_view name);

// "<what> <name>: <the system's reason for error>".
std::string system_failure(std::string_view what, std::string_view name, int error);

} // namespace fasogram
