// Output files written beside their targets and renamed into place, the
// rule for symbolic links, and the removal of temporary files on signals.
#include "output_file.hpp"

#include "error.hpp"
#include "messages.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fasogram {

namespace fs = std::filesystem;

std::string system_failure(std::string_view what, std::string_view name, int error) {
    return std::string(what) + " " + quoted_input(name) + ": " + std::strerror(error);
}

namespace {

// --- What a signal handler removes ---------------------------------------
//
// A fixed table, so that the handler reads it without allocating or
// locking: a slot holds a path and says whether it is a file or a directory
// (whose files go with it).  Slot 0 stays unused: it means "not registered".

constexpr std::size_t kSlots = 256;
constexpr std::size_t kPathMax = 4096;
enum : int { kFree = 0, kBusy = 1, kFile = 2, kDir = 3 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[kPathMax];
};
Slot slots[kSlots];

std::size_t register_cleanup(const std::string& path, int kind) {
    if (path.size() >= kPathMax) return 0;
    for (std::size_t i = 1; i < kSlots; ++i) {
        int expected = kFree;
        if (slots[i].state.compare_exchange_strong(expected, kBusy)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].state.store(kind, std::memory_order_release);
            return i;
        }
    }
    return 0;
}

void unregister_cleanup(std::size_t slot) {
    if (slot != 0) slots[slot].state.store(kFree, std::memory_order_release);
}

// Removes the files of a directory and the directory (async-signal-safe:
// system calls only).
void remove_dir_now(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[4096];
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                struct Entry {
                    unsigned long long ino;
                    long long off;
                    unsigned short reclen;
                    unsigned char type;
                    char name[1];
                };
                const auto* e = reinterpret_cast<const Entry*>(buffer + at);
                const char* name = buffer + at + offsetof(Entry, name);
                if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))))
                    ::unlinkat(fd, name, 0);
                at += e->reclen;
            }
        }
        ::close(fd);
    }
    ::rmdir(path);
}

void write_all(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, left);
        if (n <= 0) return;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

// The words of the handler's line, set before any signal can use them.
char signal_words[128] = "interrumpido por";

extern "C" void on_signal(int sig) {
    for (Slot& slot : slots) {
        const int state = slot.state.load(std::memory_order_acquire);
        if (state == kFile) ::unlink(slot.path);
        if (state == kDir) remove_dir_now(slot.path);
    }
    const char* name = sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP";
    write_all("\nfasogram: ");
    write_all(signal_words);
    write_all(" ");
    write_all(name);
    write_all("\n");
    ::_exit(128 + sig);
}

// While it lives, the signals that clean up wait: a file is created and
// registered for removal in one step.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
        ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t saved_;
};

// --- Names and links ---------------------------------------------------

// Twelve unpredictable letters and digits.
std::string random_suffix() {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[12];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy to be had: the time and the process make the name, and
        // the exclusive creation still refuses any name already taken.
        const auto seed = static_cast<unsigned long long>(::getpid()) * 1000003ULL ^
                          static_cast<unsigned long long>(std::time(nullptr));
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(seed >> (5 * i));
    }
    std::string s;
    for (const unsigned char b : bytes) s += kAlphabet[b % 62];
    return s;
}

fs::path dir_of(const fs::path& path) {
    const fs::path dir = path.parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

// A hidden name beside `target` for its temporary file.
fs::path temporary_beside(const fs::path& target) {
    std::string base = target.filename().string();
    if (base.size() > 200) base = "fasogram";
    return dir_of(target) / ("." + base + "." + random_suffix());
}

} // namespace

fs::path output_target(const fs::path& target, std::string_view name) {
    fs::path p = target;
    for (int hops = 0;; ++hops) {
        struct stat link {};
        if (::lstat(p.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return p;
        if (hops == 40) throw FatalError(system_failure(_("cannot create the file"), name, ELOOP));
        const fs::path dir = dir_of(p);
        struct stat d {};
        if (::stat(dir.c_str(), &d) == 0 && (d.st_mode & S_ISVTX) != 0 &&
            (d.st_mode & S_IWOTH) != 0 && link.st_uid != ::geteuid() && link.st_uid != d.st_uid)
            throw FatalError(_("cannot create the file") + (" " + quoted_input(name)) +
                             _(": it is another user's symbolic link in a shared directory (") +
                             quoted_input(dir.string()) + _("); it is not followed"));
        std::string to(static_cast<std::size_t>(link.st_size) + 1, '\0');
        const ssize_t n = ::readlink(p.c_str(), to.data(), to.size());
        if (n < 0 || static_cast<std::size_t>(n) >= to.size())
            throw FatalError(system_failure(_("cannot read the link"), name, n < 0 ? errno : EIO));
        to.resize(static_cast<std::size_t>(n));
        const fs::path next(to);
        p = next.is_absolute() ? next : dir / next;
    }
}

ReplacingFile::ReplacingFile(const fs::path& target, std::string_view name)
    : target_(output_target(target, name)), name_(name) {
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw FatalError(system_failure(_("cannot create the file"), name_, EISDIR));
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe: there is nothing to replace.
            stream_ = std::fopen(target_.c_str(), "wbe");
            if (stream_ == nullptr)
                throw FatalError(system_failure(_("cannot create the file"), name_, errno));
            return;
        }
        kept_ = {true, static_cast<unsigned>(st.st_mode & 07777), st.st_uid, st.st_gid};
    }
    int fd = -1;
    {
        const SignalsHeld held;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            temporary_ = temporary_beside(target_).string();
            fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd >= 0) cleanup_ = register_cleanup(temporary_, kFile);
    }
    if (fd < 0) {
        const int error = errno;
        temporary_.clear();
        throw FatalError(system_failure(_("cannot create the file"), name_, error));
    }
    if (kept_.replace) {
        // The owner first: a change of owner clears the set-id bits.
        if (::fchown(fd, kept_.uid, kept_.gid) != 0) { /* not permitted: the process's own */
        }
        ::fchmod(fd, kept_.mode);
    }
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        throw FatalError(system_failure(_("cannot create the file"), name_, error));
    }
}

ReplacingFile::~ReplacingFile() {
    if (stream_ != nullptr) std::fclose(stream_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    unregister_cleanup(cleanup_);
}

void ReplacingFile::fail(int error) {
    if (error == 0) error = EIO;
    throw FatalError(system_failure(_("cannot write the file"), name_, error));
}

void ReplacingFile::write(std::string_view text) {
    if (stream_ == nullptr) fail(EBADF);
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) fail(errno);
}

void ReplacingFile::finish() {
    if (finished_) return;
    if (stream_ == nullptr) fail(EBADF);
    std::FILE* stream = stream_;
    stream_ = nullptr;
    errno = 0;
    const bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
    int error = errno;
    // The data reach the disk before the name does (a device needs no sync).
    bool synced = true;
    if (flushed && !temporary_.empty() && ::fsync(::fileno(stream)) != 0) {
        synced = false;
        error = errno;
    }
    errno = 0;
    const bool closed = std::fclose(stream) == 0;
    if (!flushed || !synced || !closed) fail(flushed && synced ? errno : error);
    finished_ = true;
}

void ReplacingFile::commit() {
    finish();
    if (temporary_.empty()) return; // written directly
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        throw FatalError(system_failure(_("cannot create the file"), name_, errno));
    temporary_.clear();
    unregister_cleanup(cleanup_);
    cleanup_ = 0;
    // The new name on the disk too.
    const int dir = ::open(dir_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

RunOutputs::~RunOutputs() {
    for (const Graph& g : graphs_) {
        std::error_code ignored;
        fs::remove_all(g.dir, ignored);
        unregister_cleanup(g.cleanup);
    }
}

ReplacingFile& RunOutputs::file(const fs::path& target, std::string_view name) {
    files_.push_back(std::make_unique<ReplacingFile>(target, name));
    order_.push_back(static_cast<int>(files_.size()) - 1);
    return *files_.back();
}

fs::path RunOutputs::graph(const fs::path& target, std::string_view name) {
    const fs::path resolved = output_target(target, name);
    struct stat st {};
    if (::stat(resolved.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw FatalError(system_failure(_("cannot create the file"), name, EISDIR));
    Graph g;
    int error = 0;
    {
        const SignalsHeld held;
        for (int attempt = 0; attempt < 100; ++attempt) {
            g.dir = dir_of(resolved) / (".fasogram-" + random_suffix());
            if (::mkdir(g.dir.c_str(), 0700) == 0) {
                error = 0;
                break;
            }
            error = errno;
            if (error != EEXIST) break;
        }
        if (error == 0) g.cleanup = register_cleanup(g.dir.string(), kDir);
    }
    if (error != 0) throw FatalError(system_failure(_("cannot create the file"), name, error));
    g.file = g.dir / resolved.filename();
    g.target = resolved;
    g.name = std::string(name);
    graphs_.push_back(g);
    order_.push_back(-static_cast<int>(graphs_.size()));
    return g.file;
}

void RunOutputs::commit() {
    // Everything is complete and on the disk before the first name changes.
    for (const auto& f : files_) f->finish();
    for (const Graph& g : graphs_) {
        const int fd = ::open(g.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw FatalError(system_failure(_("cannot read the file"), g.name, errno));
        const int synced = ::fsync(fd);
        const int error = errno;
        ::close(fd);
        if (synced != 0)
            throw FatalError(system_failure(_("cannot write the file"), g.name, error));
    }
    // The names change together: a signal waits until they all have.
    const SignalsHeld held;
    for (const int i : order_) {
        if (i >= 0) {
            files_[static_cast<std::size_t>(i)]->commit();
            continue;
        }
        const Graph& g = graphs_[static_cast<std::size_t>(-i - 1)];
        struct stat st {};
        const bool exists = ::stat(g.target.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) {
            // A device: the graph is copied into it.
            ReplacingFile out(g.target, g.name);
            std::FILE* in = std::fopen(g.file.c_str(), "rbe");
            if (in == nullptr)
                throw FatalError(system_failure(_("cannot read the file"), g.name, errno));
            char buffer[65536];
            std::size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
                out.write(std::string_view(buffer, n));
            std::fclose(in);
            out.commit();
            continue;
        }
        if (exists) {
            if (::chown(g.file.c_str(), st.st_uid, st.st_gid) != 0) { /* the process's own */
            }
            ::chmod(g.file.c_str(), st.st_mode & 07777);
        }
        if (std::rename(g.file.c_str(), g.target.c_str()) != 0)
            throw FatalError(system_failure(_("cannot create the file"), g.name, errno));
        const int dir = ::open(dir_of(g.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
}

void set_signal_note(std::string_view words) {
    const SignalsHeld held;
    const std::size_t n = std::min(words.size(), sizeof signal_words - 1);
    std::memcpy(signal_words, words.data(), n);
    signal_words[n] = '\0';
}

void install_signal_cleanup() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, sig);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored by whoever started the program stays ignored.
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace fasogram
