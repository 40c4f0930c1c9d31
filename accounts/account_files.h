#pragma once
// The names of an account's cache files in the data folder. The mail layer
// reads and writes them; the settings dialog deletes them with the account.
//
//   <stem>.sid  index file      <stem>.kvt  header file
//   <stem>.eml  message file    <stem>.lst  list file (its "_" sibling holds
//                                           the LIST/UIDL replies)
// Rebuilt files are written as siblings with "_" appended first.
//   <stem>.lck  the lock every writer of these files holds (CacheLock)

#include <string>
#include <string_view>

namespace wp {

// The file stem of an account: the name (CP932, cut at a zero byte) without
// the characters file names may not hold, as UTF-8, cut at a character
// boundary so that the longest name made from it ("<stem>.sid_") stays
// within 255 bytes.
std::string AccountFileStem(std::string_view accountName);

struct AccountFilePaths {
    std::string header;   // .kvt
    std::string index;    // .sid
    std::string message;  // .eml
    std::string list;     // .lst
    std::string lock;     // .lck
};

AccountFilePaths AccountCacheFiles(std::string_view accountName, std::string_view dataFolder);

// The advisory lock of one account's cache files, shared by every process on
// the data folder (a second window, wrenpost-cli). Whoever writes an
// account's files, their temporaries included, holds it for as long as it
// writes; so does whoever tidies what a stopped writer left. A reader never
// needs it: files are replaced by rename, never rewritten in place.
//
// The lock file itself stays (removing a lock file others may hold open
// would let two writers in); it is empty.
class CacheLock {
public:
    enum class State { kNone, kHeld, kBusy, kFailed };

    CacheLock() = default;
    ~CacheLock() { Release(); }
    CacheLock(CacheLock&& other) noexcept;
    CacheLock& operator=(CacheLock&& other) noexcept;
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;

    // Takes the lock without waiting: kBusy when another holds it (another
    // process, or another object of this one), kFailed when the lock file
    // cannot be made or opened (errno in Error()).
    static CacheLock TryAcquire(std::string_view accountName, std::string_view dataFolder);
    // The same, trying again until `patience` has passed.
    static CacheLock Acquire(std::string_view accountName, std::string_view dataFolder, int patienceMs);

    State state() const { return state_; }
    bool Held() const { return state_ == State::kHeld; }
    int Error() const { return error_; }
    void Release();

private:
    int fd_ = -1;
    State state_ = State::kNone;
    int error_ = 0;
};

// Deletes the header, index and message files of an account, and the
// temporaries a stopped run may have left beside them, so that nothing of a
// deleted account's mail stays behind. Missing files are no error. True when
// none of them is left. The caller holds the account's CacheLock.
bool DeleteAccountCacheFiles(std::string_view accountName, std::string_view dataFolder);

}  // namespace wp
