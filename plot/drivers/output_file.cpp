// The output file of every file driver: the name settled by the rule for
// existing files, the temporary file created beside its target by this
// process alone, and its placing under the name when it is complete.
#include "drivers/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "core/files.h"
#include "core/state.h"

namespace plotix::detail {

namespace {

constexpr int kLinkHops = 40;          // links followed in a row, as the system does
constexpr std::size_t kTempBase = 200; // bytes of the file's name kept in the temporary name
constexpr int kTempAttempts = 100;     // temporary names tried before giving up

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

int last_error() {
    return errno != 0 ? errno : EIO;
}

// "dir/" of "dir/name" ("" for a name without one: the current directory).
std::string dir_part(const std::string& path) {
    const std::size_t sep = path.find_last_of('/');
    return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

std::string base_part(const std::string& path) {
    const std::size_t sep = path.find_last_of('/');
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

// The longest file name of the directory that holds path.
std::size_t name_max(const std::string& path) {
    const std::string dir = dir_part(path);
    const long n = pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    return n > 0 ? static_cast<std::size_t>(n) : NAME_MAX;
}

// Twelve letters and digits another process cannot guess.
std::string random_suffix() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[12];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No random source: the clock, the process and a count. The file is
        // still created exclusively; only its name is easier to guess.
        static std::uint64_t count = 0;
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        std::uint64_t v =
            static_cast<std::uint64_t>(ts.tv_nsec) ^ (static_cast<std::uint64_t>(ts.tv_sec) << 30) ^
            (static_cast<std::uint64_t>(getpid()) << 48) ^ (++count * 0x9E3779B97F4A7C15ULL);
        for (unsigned char& b : bytes) {
            v = v * 6364136223846793005ULL + 1442695040888963407ULL;
            b = static_cast<unsigned char>(v >> 56);
        }
    }
    std::string s;
    for (unsigned char b : bytes) s += kChars[b % (sizeof kChars - 1)];
    return s;
}

// Moves the complete temporary file to its name unless something of that
// name exists (a symbolic link included); errno tells why not.
bool place_new(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    // A file system without that rename: a second link, then the first goes.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    // Nor links: the name is checked, then taken.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace

Existing existing_rule() {
    return g.out.filemode == 1 ? Existing::replace : Existing::version;
}

bool may_follow(const std::string& link, const struct stat& st) {
    const std::string dir = dir_part(link);
    struct stat d;
    if (stat(dir.empty() ? "." : dir.c_str(), &d) != 0) return false;
    const bool shared = (d.st_mode & S_ISVTX) != 0 && (d.st_mode & S_IWOTH) != 0;
    return !shared || st.st_uid == geteuid() || st.st_uid == d.st_uid;
}

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::create(const std::string& name) {
    return create(name, existing_rule());
}

bool OutputFile::create(const std::string& name, Existing rule) {
    discard();
    errnum_ = 0;
    name_ = name;
    target_.clear();
    rule_ = rule;
    return settle_target(rule) && open_temporary();
}

// The file the contents go to: with "version" a free version of the name;
// with "replace" the name, or the end of its chain of symbolic links.
bool OutputFile::settle_target(Existing rule) {
    if (name_.empty() || name_.back() == '/') {
        fail(name_.empty() ? ENOENT : EISDIR);
        return false;
    }
    if (name_.find('\0') != std::string::npos) {
        fail(EINVAL); // the system would take the name only up to that byte
        return false;
    }
    if (rule == Existing::version) {
        if (gfilnn(name_) != 0) {
            fail(EEXIST); // more than 9999 versions: no name left
            return false;
        }
        target_ = name_;
    } else {
        std::string path = name_;
        for (int hop = 0;; ++hop) {
            struct stat st;
            errno = 0;
            if (lstat(path.c_str(), &st) != 0) {
                if (errno != ENOENT) {
                    fail(last_error());
                    return false;
                }
                break; // a new file (also where a link to nothing leads)
            }
            if (S_ISREG(st.st_mode)) break;
            if (!S_ISLNK(st.st_mode)) {
                // Directories, devices, pipes and sockets are never replaced.
                fail(S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
                return false;
            }
            if (hop == kLinkHops) {
                fail(ELOOP);
                return false;
            }
            if (!may_follow(path, st)) {
                fail(EACCES);
                return false;
            }
            char to[PATH_MAX];
            errno = 0;
            const ssize_t n = readlink(path.c_str(), to, sizeof to);
            if (n < 0 || n == static_cast<ssize_t>(sizeof to)) {
                fail(n < 0 ? last_error() : ENAMETOOLONG);
                return false;
            }
            const std::string link(to, static_cast<std::size_t>(n));
            path = link.front() == '/' ? link : dir_part(path) + link;
            if (path.back() == '/') {
                fail(EISDIR);
                return false;
            }
        }
        target_ = path;
    }
    if (base_part(target_).size() > name_max(target_)) {
        fail(ENAMETOOLONG);
        return false;
    }
    return true;
}

bool OutputFile::open_temporary() {
    std::string base = base_part(target_);
    if (base.size() > kTempBase) base.resize(kTempBase);
    const std::string head = dir_part(target_) + "." + base + ".";
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        const std::string temp = head + random_suffix();
        errno = 0;
        const int fd = ::open(temp.c_str(), kCreateFlags, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            fail(last_error());
            return false;
        }
        temp_ = temp;
        f_ = fdopen(fd, "wb");
        if (f_ == nullptr) {
            fail(last_error());
            ::close(fd);
            unlink(temp_.c_str());
            temp_.clear();
            return false;
        }
        return true;
    }
    fail(EEXIST);
    return false;
}

void OutputFile::write(const void* bytes, std::size_t n) {
    if (f_ == nullptr || errnum_ != 0 || n == 0) return;
    errno = 0;
    if (std::fwrite(bytes, 1, n, f_) != n) fail(last_error());
}

bool OutputFile::flush() {
    if (f_ == nullptr || errnum_ != 0) return errnum_ == 0;
    errno = 0;
    if (std::fflush(f_) != 0) fail(last_error());
    return errnum_ == 0;
}

// The replaced file's mode, and its owner and group as far as this process
// may give them; without its owner the file keeps no set-user or set-group
// bit.
void OutputFile::keep_mode_and_owner() {
    struct stat st;
    if (lstat(target_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const int fd = fileno(f_);
    mode_t mode = st.st_mode & 07777;
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
        if (fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0 || st.st_uid != geteuid()) {
            mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
        }
    }
    errno = 0;
    if (fchmod(fd, mode) != 0) fail(last_error());
}

bool OutputFile::close() {
    if (f_ == nullptr) return false;
    flush();
    if (errnum_ == 0 && std::ferror(f_) != 0) fail(EIO);
    if (errnum_ == 0) {
        errno = 0;
        // On the disk before it takes the name (file systems that cannot
        // sync a file say EINVAL).
        if (fsync(fileno(f_)) != 0 && errno != EINVAL) fail(last_error());
    }
    if (errnum_ == 0 && rule_ == Existing::replace) keep_mode_and_owner();
    errno = 0;
    const int closed = std::fclose(f_);
    f_ = nullptr;
    if (closed != 0 && errnum_ == 0) fail(last_error());
    if (errnum_ == 0 && place()) {
        temp_.clear();
        return true;
    }
    unlink(temp_.c_str());
    temp_.clear();
    return false;
}

// Gives the complete temporary file its name: with "replace" over what is
// there (the links to it stay); with "version" only a free name, taking the
// next free version should one have appeared since create.
bool OutputFile::place() {
    if (rule_ == Existing::replace) {
        errno = 0;
        if (std::rename(temp_.c_str(), target_.c_str()) == 0) return true;
        fail(last_error());
        return false;
    }
    for (int attempt = 0;; ++attempt) {
        errno = 0;
        if (place_new(temp_, target_)) return true;
        const int why = last_error();
        if (why != EEXIST || attempt == 3 || gfilnn(name_) != 0) {
            fail(why);
            return false;
        }
        target_ = name_;
    }
}

void OutputFile::discard() {
    if (f_ != nullptr) {
        std::fclose(f_);
        f_ = nullptr;
    }
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        temp_.clear();
    }
}

void OutputFile::fail(int errnum) {
    if (errnum_ == 0) errnum_ = errnum != 0 ? errnum : EIO;
}

std::FILE* create_new_file(std::string& name) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (gfilnn(name) != 0) {
            errno = EEXIST;
            return nullptr;
        }
        errno = 0;
        const int fd = ::open(name.c_str(), kCreateFlags, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue; // taken since: the next version
            return nullptr;
        }
        std::FILE* f = fdopen(fd, "wb");
        if (f == nullptr) {
            const int why = errno;
            ::close(fd);
            unlink(name.c_str());
            errno = why;
        }
        return f;
    }
    errno = EEXIST;
    return nullptr;
}

} // namespace plotix::detail
