#include "mail/stored_mail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "mail/cache_io.h"

namespace wp {

namespace io = cache_io;

struct StoredMail::File {
    std::string path;
    io::Fd fd;
    dev_t device = 0;
    ino_t inode = 0;
};

namespace {

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view bytes) {
    return bytes.empty() || io::WriteAt(fd, bytes.data(), bytes.size(), 0);
}

}  // namespace

std::optional<StoredMail> StoredMail::Write(const std::string& path, std::string_view raw) {
    // A short name of its own: "<stem>.eml" plus a suffix could pass the
    // file-name limit that the account's stem was cut for.
    std::string sibling = FolderOf(path) + "/.eml-XXXXXX";
    io::Fd fd(::mkostemp(sibling.data(), O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    struct stat st {};
    if (!WriteAll(fd.get(), raw) || ::fstat(fd.get(), &st) != 0 ||
        ::rename(sibling.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(sibling.c_str());
        errno = saved;
        return std::nullopt;
    }
    auto file = std::make_shared<File>();
    file->path = path;
    file->fd = std::move(fd);
    file->device = st.st_dev;
    file->inode = st.st_ino;
    StoredMail mail;
    mail.file_ = std::move(file);
    return mail;
}

const std::string& StoredMail::Path() const {
    static const std::string kNone;
    return file_ ? file_->path : kNone;
}

std::optional<std::string> StoredMail::Read() const {
    if (!file_) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file_->fd.get(), &st) != 0 || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > std::numeric_limits<std::size_t>::max() / 2) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (io::ReadAt(file_->fd.get(), bytes.data(), bytes.size(), 0) != bytes.size()) {
        return std::nullopt;
    }
    return bytes;
}

void StoredMail::Remove() {
    if (!file_) {
        return;
    }
    struct stat st {};
    if (::lstat(file_->path.c_str(), &st) == 0 && st.st_dev == file_->device && st.st_ino == file_->inode) {
        ::unlink(file_->path.c_str());
    }
    file_.reset();
}

}  // namespace wp
