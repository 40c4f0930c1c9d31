#include "mail/cache_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <cerrno>
#include <cstring>

#include "platform/text.h"

namespace wp::cache_io {

FilePtr Open(const std::string& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode));
}

void Fd::Reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool Fd::Close() {
    if (fd_ < 0) {
        return true;
    }
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::int64_t> RegularFileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::size_t ReadAt(int fd, char* out, std::size_t length, std::int64_t offset) {
    std::size_t done = 0;
    while (done < length) {
        ssize_t n =
            ::pread(fd, out + done, length - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool WriteAt(int fd, const void* data, std::size_t length, std::int64_t offset) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < length) {
        ssize_t n =
            ::pwrite(fd, p + done, length - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SyncFile(int fd) {
    return ::fdatasync(fd) == 0;
}

void SyncFolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) {
        ::fsync(dir.get());
    }
}

std::string SystemErrorText(int err) {
    char buffer[256];
    // The GNU form returns the text, which need not be in the buffer.
    const char* text = ::strerror_r(err, buffer, sizeof buffer);
    return QStringToCp932Lossy(QString::fromLocal8Bit(text));
}

}  // namespace wp::cache_io
