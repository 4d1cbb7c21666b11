#include "output_file.hpp"

#include "error.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fasogram {

namespace {

// The permissions a file created by fopen would get.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::string system_failure(std::string_view what, std::string_view name, int error) {
    return std::string(what) + " " + std::string(name) + ": " + std::strerror(error);
}

namespace {

// What stands at a path now, links followed.
std::filesystem::file_status status_of(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::status(path, ignored);
}

std::filesystem::path followed(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return error ? path : resolved;
}

} // namespace

ReplacingFile::ReplacingFile(const std::filesystem::path& target, std::string_view name)
    : target_(followed(target)), name_(name) {
    const std::filesystem::file_status status = status_of(target_);
    if (std::filesystem::is_directory(status))
        throw FatalError(system_failure("no se puede crear el archivo", name_, EISDIR));
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        stream_ = std::fopen(target_.c_str(), "wb");
        if (stream_ == nullptr)
            throw FatalError(system_failure("no se puede crear el archivo", name_, errno));
        return;
    }
    std::filesystem::path dir = target_.parent_path();
    if (dir.empty()) dir = ".";
    temporary_ = (dir / ("." + target_.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary_.data());
    if (fd < 0) {
        const int error = errno;
        temporary_.clear();
        throw FatalError(system_failure("no se puede crear el archivo", name_, error));
    }
    ::fchmod(fd, new_file_mode());
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary_.c_str());
        throw FatalError(system_failure("no se puede crear el archivo", name_, error));
    }
}

ReplacingFile::~ReplacingFile() {
    if (stream_ != nullptr) std::fclose(stream_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void ReplacingFile::fail(int error) {
    if (error == 0) error = EIO;
    throw FatalError(system_failure("error al escribir el archivo", name_, error));
}

void ReplacingFile::write(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) fail(errno);
}

void ReplacingFile::commit() {
    std::FILE* stream = stream_;
    stream_ = nullptr;
    errno = 0;
    const bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
    const int flush_error = errno;
    const bool closed = std::fclose(stream) == 0;
    if (!flushed || !closed) fail(flushed ? errno : flush_error);
    if (temporary_.empty()) return; // written directly
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
        throw FatalError(system_failure("no se puede crear el archivo", name_, errno));
    temporary_.clear();
}

void move_into_place(const std::filesystem::path& from, const std::filesystem::path& to,
                     std::string_view name) {
    const std::filesystem::file_status status = status_of(to);
    if (std::filesystem::is_directory(status))
        throw FatalError(system_failure("no se puede crear el archivo", name, EISDIR));
    if (!std::filesystem::exists(status) || std::filesystem::is_regular_file(status)) {
        if (std::rename(from.c_str(), followed(to).c_str()) == 0) return;
        if (errno != EXDEV)
            throw FatalError(system_failure("no se puede crear el archivo", name, errno));
    }
    // Another file system, or a device: a copy.
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) throw FatalError(system_failure("no se puede leer el archivo", name, errno));
    try {
        ReplacingFile out(to, name);
        char buffer[65536];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            out.write(std::string_view(buffer, n));
        if (std::ferror(in))
            throw FatalError(system_failure("no se puede leer el archivo", name, errno));
        out.commit();
    } catch (...) {
        std::fclose(in);
        throw;
    }
    std::fclose(in);
    std::error_code ignored;
    std::filesystem::remove(from, ignored);
}

} // namespace fasogram
