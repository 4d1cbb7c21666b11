// Output files that appear complete or not at all, and the outputs of one
// run put in place together.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fasogram {

// Where an output named `target` is really written, links followed by one
// rule: a symbolic link is followed (the file it names is written, or made
// when the link dangles) unless it stands in a directory that is sticky and
// writable by everyone and belongs neither to this process's user nor to the
// directory's owner: such a link may have been planted by another user, and
// is refused, as the kernel's protected-symlinks rule refuses to open it.  A
// refused link, or a chain of more than 40 links, raises FatalError naming
// `name`.
std::filesystem::path output_target(const std::filesystem::path& target, std::string_view name);

// A file written under a temporary name in the directory of its target (an
// unpredictable name, created exclusively with the permissions a new file
// gets under the process's umask) and renamed over the target by commit(),
// so that an existing file is replaced only by a complete one.  finish()
// flushes, checks and syncs the data; commit() finishes if needed and
// renames.  A replaced file keeps its permissions (and its owner and group
// where the process may set them).  Without commit() the temporary file is
// removed.  Something other than a regular file at the target (a device
// such as /dev/null, a pipe) is written directly.  Every failure raises
// FatalError naming `name` and the system's reason.
class ReplacingFile {
  public:
    ReplacingFile(const std::filesystem::path& target, std::string_view name);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    void write(std::string_view text);
    void finish();
    void commit();
    const std::string& name() const { return name_; }

  private:
    [[noreturn]] void fail(int error);

    std::filesystem::path target_;
    std::string temporary_; // empty when writing directly
    std::string name_;
    std::FILE* stream_ = nullptr;
    bool finished_ = false;
    struct stat_copy {
        bool replace = false; // the target exists: its mode and owner are kept
        unsigned mode = 0;
        unsigned uid = 0, gid = 0;
    } kept_;
    std::size_t cleanup_ = 0; // the temporary file's slot in the signal cleanup
};

// The outputs of one run: each is staged beside its target and all are put
// in place by commit() only once the whole run has succeeded; a run that
// stops before (an error, a signal) leaves every earlier file as it was.
class RunOutputs {
  public:
    RunOutputs() = default;
    ~RunOutputs();
    RunOutputs(const RunOutputs&) = delete;
    RunOutputs& operator=(const RunOutputs&) = delete;

    // A file for `target`, put in place at commit().
    ReplacingFile& file(const std::filesystem::path& target, std::string_view name);

    // A path where a graph for `target` may be written (by the plotting
    // library, which writes through its own temporary file): a fresh
    // private directory beside the target, under the target's own file
    // name.  The file is moved over the target at commit().
    std::filesystem::path graph(const std::filesystem::path& target, std::string_view name);

    // Puts every output in place, in the order they were asked for.
    void commit();

  private:
    struct Graph {
        std::filesystem::path dir, file, target;
        std::string name;
        std::size_t cleanup = 0;
    };
    std::vector<std::unique_ptr<ReplacingFile>> files_;
    std::vector<Graph> graphs_;
    std::vector<int> order_; // >= 0: files_[i]; < 0: graphs_[-i - 1]
};

// "<what> <name>: <the system's reason for error>".
std::string system_failure(std::string_view what, std::string_view name, int error);

// What the program does on SIGINT, SIGTERM and SIGHUP: removes the
// temporary files and directories of the outputs under way, writes one line
// on standard error and ends with status 128 + the signal.  SIGXFSZ is
// ignored, so that a file over the size limit is an ordinary write error.
void install_signal_cleanup();

// The words of that line before the signal's name ("interrumpido por" until
// set): the handler cannot translate, so the run sets them beforehand.
void set_signal_note(std::string_view words);

} // namespace fasogram
