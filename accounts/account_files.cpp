#include "accounts/account_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "accounts/file_name_chars.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace wp {
namespace {

// Room for "." plus a three-letter extension plus "_".
constexpr std::size_t kLongestSuffix = 5;
constexpr std::size_t kFileNameMax = 255;

bool Unlink(const std::string& path) {
    // unlink never follows a link: a planted one goes, its target stays.
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

std::string AccountFileStem(std::string_view accountName) {
    std::string_view name = accountName.substr(0, accountName.find('\0'));
    std::string stem = StripFileNameChars(name);
    return TruncateUtf8(Cp932ToUtf8(stem), kFileNameMax - kLongestSuffix);
}

AccountFilePaths AccountCacheFiles(std::string_view accountName, std::string_view dataFolder) {
    std::string base = JoinPath(dataFolder, AccountFileStem(accountName));
    return {base + ".kvt", base + ".sid", base + ".eml", base + ".lst", base + ".lck"};
}

CacheLock::CacheLock(CacheLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      state_(std::exchange(other.state_, State::kNone)),
      error_(other.error_) {}

CacheLock& CacheLock::operator=(CacheLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        state_ = std::exchange(other.state_, State::kNone);
        error_ = other.error_;
    }
    return *this;
}

void CacheLock::Release() {
    if (fd_ >= 0) {
        // Closing the only descriptor of the open file releases the lock.
        ::close(fd_);
        fd_ = -1;
    }
    state_ = State::kNone;
}

CacheLock CacheLock::TryAcquire(std::string_view accountName, std::string_view dataFolder) {
    CacheLock lock;
    const std::string path = AccountCacheFiles(accountName, dataFolder).lock;
    // Never through a link planted under the name, never blocking on a FIFO.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        lock.state_ = State::kFailed;
        lock.error_ = errno;
        return lock;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        lock.state_ = State::kFailed;
        lock.error_ = EINVAL;
        return lock;
    }
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        lock.error_ = errno;
        lock.state_ = errno == EWOULDBLOCK ? State::kBusy : State::kFailed;
        ::close(fd);
        return lock;
    }
    lock.fd_ = fd;
    lock.state_ = State::kHeld;
    return lock;
}

CacheLock CacheLock::Acquire(std::string_view accountName, std::string_view dataFolder, int patienceMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    for (;;) {
        CacheLock lock = TryAcquire(accountName, dataFolder);
        if (lock.state() != State::kBusy || std::chrono::steady_clock::now() >= deadline) {
            return lock;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool DeleteAccountCacheFiles(std::string_view accountName, std::string_view dataFolder) {
    AccountFilePaths files = AccountCacheFiles(accountName, dataFolder);
    bool gone = true;
    for (const std::string* path : {&files.header, &files.index, &files.message}) {
        gone = Unlink(*path) && gone;
        gone = Unlink(*path + "_") && gone;
    }
    // The response file of an interrupted listing.
    return Unlink(files.list + "_") && gone;
}

}  // namespace wp
