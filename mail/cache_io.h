#pragma once
// Small file helpers of the cache code: POSIX calls with their errors kept.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wp::cache_io {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr Open(const std::string& path, const char* mode);

// An open file descriptor, closed with the object.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);
    // Closes now; false when close reported an error (a write lost).
    bool Close();

private:
    int fd_ = -1;
};

bool Exists(const std::string& path);
// A regular file itself, not a link to one.
bool IsRegularFile(const std::string& path);
// Size of a regular file; nullopt when there is none at the path.
std::optional<std::int64_t> RegularFileSize(const std::string& path);

// Reads up to `length` bytes at `offset`; returns how many were read.
std::size_t ReadAt(int fd, char* out, std::size_t length, std::int64_t offset);
bool WriteAt(int fd, const void* data, std::size_t length, std::int64_t offset);

// Flushes a file's data to the disk, then its folder's entry, so a rename
// that follows survives a power cut with the new contents.
bool SyncFile(int fd);
void SyncFolderOf(const std::string& path);

// The system's text for an errno value, as CP932.
std::string SystemErrorText(int err);

}  // namespace wp::cache_io
