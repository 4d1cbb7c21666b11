// The output file of every file driver: written under a temporary name and
// renamed when complete, with a sticky error.
#include "drivers/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "core/files.h"

namespace plotix::detail {

namespace {

// The permissions a file created the usual way gets.
mode_t creation_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

int last_error() {
    return errno != 0 ? errno : EIO;
}

// Moves the complete temporary file to its name unless a file of that name
// exists; errno tells why not.
bool place(const std::string& from, const std::string& to) {
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
    if (access(to.c_str(), F_OK) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::create(const std::string& name) {
    discard();
    errnum_ = 0;
    name_ = name;
    if (gfilnn(name_) != 0) {
        fail(EEXIST); // more than 9999 versions: no name left
        return false;
    }
    const std::size_t sep = name_.find_last_of('/');
    const std::size_t base = sep == std::string::npos ? 0 : sep + 1;
    std::string temp = name_.substr(0, base) + "." + name_.substr(base) + ".XXXXXX";
    errno = 0;
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        fail(last_error());
        return false;
    }
    temp_ = temp;
    fchmod(fd, creation_mode());
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

bool OutputFile::close() {
    if (f_ == nullptr) return false;
    flush();
    errno = 0;
    const int closed = std::fclose(f_);
    f_ = nullptr;
    if (closed != 0 && errnum_ == 0) fail(last_error());
    if (errnum_ == 0) {
        // A file of the name may have appeared since create: the next free
        // version is taken then.
        for (int attempt = 0;; ++attempt) {
            errno = 0;
            if (place(temp_, name_)) {
                temp_.clear();
                return true;
            }
            const int why = last_error();
            if (why != EEXIST || attempt == 3 || gfilnn(name_) != 0) {
                fail(why);
                break;
            }
        }
    }
    unlink(temp_.c_str());
    temp_.clear();
    return false;
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

} // namespace plotix::detail
