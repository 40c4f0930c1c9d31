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

// Pieces of a few kilobytes are gathered to this size before they are
// written: one call per piece would cost more than the copy.
constexpr std::size_t kWriteBatch = 256 * 1024;

}  // namespace

std::optional<StoredMail> StoredMail::Write(const std::string& path, std::string_view raw) {
    std::optional<StoredMail> mail;
    int saved = 0;
    {
        StoredMailWriter writer(path);
        writer.Append(raw);
        mail = writer.Commit();
        saved = errno;
    }
    errno = saved;
    return mail;
}

StoredMailWriter::StoredMailWriter(std::string path) : path_(std::move(path)) {
    // A short name of its own: "<stem>.eml" plus a suffix could pass the
    // file-name limit that the account's stem was cut for.
    sibling_ = FolderOf(path_) + "/.eml-XXXXXX";
    fd_ = ::mkostemp(sibling_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        failed_ = true;
        error_ = errno;
        sibling_.clear();
    }
}

StoredMailWriter::~StoredMailWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!sibling_.empty()) {
        ::unlink(sibling_.c_str());
    }
}

bool StoredMailWriter::Put(std::string_view bytes) {
    if (!failed_ && !bytes.empty()) {
        if (io::WriteAt(fd_, bytes.data(), bytes.size(), written_)) {
            written_ += static_cast<std::int64_t>(bytes.size());
        } else {
            failed_ = true;
            error_ = errno != 0 ? errno : EIO;
        }
    }
    return !failed_;
}

bool StoredMailWriter::Flush() {
    const bool written = Put(pending_);
    pending_.clear();
    return written;
}

void StoredMailWriter::Append(std::string_view bytes) {
    if (failed_ || bytes.empty()) {
        return;
    }
    if (pending_.size() + bytes.size() > kWriteBatch) {
        // A piece as large as a batch goes as it is.
        if (Flush() && bytes.size() >= kWriteBatch) {
            Put(bytes);
            return;
        }
        if (failed_) {
            return;
        }
    }
    if (pending_.capacity() < kWriteBatch) {
        pending_.reserve(kWriteBatch);
    }
    pending_.append(bytes);
}

std::optional<StoredMail> StoredMailWriter::Commit() {
    struct stat st {};
    if (!Flush() || ::fstat(fd_, &st) != 0 || ::rename(sibling_.c_str(), path_.c_str()) != 0) {
        const int saved = failed_ ? error_ : errno;
        errno = saved;
        return std::nullopt;
    }
    sibling_.clear();  // renamed: nothing left to delete
    auto file = std::make_shared<StoredMail::File>();
    file->path = path_;
    file->fd = io::Fd(fd_);
    fd_ = -1;
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
