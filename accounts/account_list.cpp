#include "accounts/account_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "accounts/check_interval.h"
#include "platform/paths.h"
#include "platform/profile.h"

namespace wp {
namespace {

constexpr char kScrambleKey[] = "73915026481735926048173592604817359260481735926048";
static_assert(sizeof(kScrambleKey) - 1 == kScrambleLength);

// What an unread value amounts to in earlier versions: no password.
constexpr char kNoPasswordText[] = "\x82\xC8\x82\xA2";  // "ない"

unsigned char KeyByte(std::size_t i) {
    return static_cast<unsigned char>(kScrambleKey[i]);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting whether the data reached the file system.
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

// Opens an existing plain file. O_NONBLOCK keeps a FIFO planted under the
// name from blocking the open; plain files ignore it.
int OpenPlainFile(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
    while (size > 0) {
        ssize_t done = ::pwrite(fd, data, size, offset);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
        offset += done;
    }
    return true;
}

// Reads up to size bytes; fewer only at the end of the file. -1 on an error.
ssize_t ReadFull(int fd, std::uint8_t* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        ssize_t done = ::read(fd, data + got, size - got);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (done == 0) {
            break;
        }
        got += static_cast<std::size_t>(done);
    }
    return static_cast<ssize_t>(got);
}

std::string ParentFolder(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a rewrite must replace: a link is followed, so that it stays a link.
std::string ResolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string out(resolved);
    std::free(resolved);
    return out;
}

// The six characters mkostemp puts in place of XXXXXX.
bool IsTempSuffix(std::string_view suffix) {
    if (suffix.size() != 6) {
        return false;
    }
    for (char c : suffix) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

CAccountList::CAccountList(bool readOnly, std::string_view dataFolder, Profile& profile)
    : readOnly_(readOnly), profile_(profile), path_(AccountDataPath(dataFolder)) {
    if (!readOnly_) {
        TakeLock();
        if (lockState_ == LockState::kHeld) {
            RemoveLeftoverSiblings();
        }
    }
    Load();
}

CAccountList::~CAccountList() {
    if (MayWriteFile()) {
        RewriteCompacted();
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // releases the lock, after the rewrite
    }
}

void CAccountList::TakeLock() {
    const std::string lockPath = ParentFolder(ResolvedPath(path_)) + "/AccData.lck";
    int fd =
        ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        lockState_ = LockState::kFailed;
        lockError_ = errno;
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        lockState_ = LockState::kFailed;
        lockError_ = EINVAL;
        return;
    }
    int rc = 0;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        lockError_ = errno;
        lockState_ = errno == EWOULDBLOCK ? LockState::kBusy : LockState::kFailed;
        ::close(fd);
        return;
    }
    lockFd_ = fd;
    lockState_ = LockState::kHeld;
}

void CAccountList::RemoveLeftoverSiblings() const {
    // Only the lock holder rewrites, so a sibling found now was left by a
    // rewrite that never finished.
    const std::string target = ResolvedPath(path_);
    const std::string folder = ParentFolder(target);
    const std::string prefix = target.substr(target.rfind('/') + 1) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix &&
            IsTempSuffix(name.substr(prefix.size()))) {
            const std::string path = folder + "/" + std::string(name);
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                ::unlink(path.c_str());
            }
        }
    }
    ::closedir(dir);
}

bool CAccountList::Load() {
    accounts_.clear();
    fileIsOurs_ = false;

    struct stat st {};
    if (::lstat(path_.c_str(), &st) != 0 && errno == ENOENT) {
        // Nothing stored yet, so nothing to lose. O_EXCL: whatever appears
        // meanwhile is left alone.
        int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) {
            ::close(fd);
        }
        fileIsOurs_ = true;
        return true;
    }

    Fd fd(OpenPlainFile(path_, O_RDONLY));
    if (fd.get() < 0) {
        return false;
    }
    // Records are read a batch at a time; a trailing partial record is ignored.
    constexpr std::size_t kBatch = 64;
    std::vector<std::uint8_t> buffer(kBatch * kAccountRecordSize);
    bool whole = true;
    for (;;) {
        ssize_t got = ReadFull(fd.get(), buffer.data(), buffer.size());
        if (got < 0) {
            whole = false;
            break;
        }
        std::size_t records = static_cast<std::size_t>(got) / kAccountRecordSize;
        for (std::size_t r = 0; r < records; ++r) {
            if (accounts_.size() >= static_cast<std::size_t>(kMaxAccounts)) {
                whole = false;
                break;
            }
            auto account = std::make_unique<AccountInfo>();
            std::span<const std::uint8_t, kAccountRecordSize> bytes(buffer.data() + r * kAccountRecordSize,
                                                                    kAccountRecordSize);
            account->Record() = DecodeAccountRecord(bytes);
            account->TerminateFields();
            account->number = static_cast<std::int32_t>(accounts_.size() + 1);
            if (account->SavesPassword() && !account->IsBlank()) {
                if (auto value = profile_.GetBinary(kPasswordSection, account->Name())) {
                    account->SetPassword(DecodePasswordValue(*value));
                }
            }
            accounts_.push_back(std::move(account));
        }
        if (!whole || static_cast<std::size_t>(got) < buffer.size()) {
            break;
        }
    }
    fileIsOurs_ = whole;
    return whole;
}

AccountInfo* CAccountList::Lookup(int number) {
    if (number < 1 || number > Size()) {
        return nullptr;
    }
    return accounts_[static_cast<std::size_t>(number - 1)].get();
}

const AccountInfo* CAccountList::Lookup(int number) const {
    return const_cast<CAccountList*>(this)->Lookup(number);
}

bool CAccountList::SaveAccount(AccountRecord& record, std::string_view password) {
    AccountInfo* target = Lookup(record.number);
    if (target == nullptr) {
        accounts_.push_back(std::make_unique<AccountInfo>());
        target = accounts_.back().get();
        record.number = Size();
    }
    // Whatever the caller put in the fields, readers find a terminator.
    record.TerminateFields();
    target->Record() = record;
    target->SetPassword(password);
    if (!MayWriteFile()) {
        return false;
    }
    return WriteSlot(record.number, EncodeAccountRecord(record));
}

bool CAccountList::SaveAccount(AccountInfo& account) {
    return SaveAccount(account.Record(), account.Password());
}

bool CAccountList::ClearAccount(int number) {
    AccountInfo* account = Lookup(number);
    if (account == nullptr) {
        // Writing zeros at a slot nobody holds would only damage the file.
        return false;
    }
    if (MayWriteFile() && !account->IsBlank()) {
        DeletePassword(account->Name());
        // A later account of the same name starts unchecked.
        SetCheckInterval(profile_, account->Name(), 0);
    }
    *account = AccountInfo{};
    account->number = 0;
    if (!MayWriteFile()) {
        return false;
    }
    return WriteSlot(number, AccountBytes{});
}

void CAccountList::StorePassword(std::string_view name, std::string_view password) {
    if (name.empty()) {
        return;
    }
    profile_.DeleteValue(kPasswordSection, name);
    profile_.SetBinary(kPasswordSection, name, EncodePasswordValue(password));
}

void CAccountList::DeletePassword(std::string_view name) {
    if (name.empty()) {
        return;
    }
    profile_.DeleteValue(kPasswordSection, name);
}

void CAccountList::ScramblePassword(std::span<char> buffer) {
    std::size_t length = std::min(buffer.size(), kScrambleLength);
    for (std::size_t i = 0; i < length; ++i) {
        auto byte = static_cast<unsigned char>(buffer[i]);
        if (byte == 0) {
            buffer[i] = static_cast<char>(KeyByte(i));
            break;
        }
        buffer[i] = static_cast<char>(static_cast<unsigned char>(byte + KeyByte(i)));
    }
}

void CAccountList::UnscramblePassword(std::span<char> buffer) {
    std::size_t length = std::min(buffer.size(), kScrambleLength);
    for (std::size_t i = 0; i < length; ++i) {
        auto byte = static_cast<unsigned char>(buffer[i]);
        buffer[i] = static_cast<char>(static_cast<unsigned char>(byte - KeyByte(i)));
    }
}

std::vector<std::uint8_t> CAccountList::EncodePasswordValue(std::string_view password) {
    AccountInfo holder;  // its bounded copy cuts the password to its limit
    holder.SetPassword(password);
    char buffer[kScrambleLength + 1] = {};
    std::memcpy(buffer, holder.password, kScrambleLength);
    ScramblePassword(std::span<char>(buffer, kScrambleLength));
    // All 50 bytes, zeros among them: cutting at the first zero byte would cut
    // a password with a byte that scrambles to zero.
    std::vector<std::uint8_t> value(kPasswordValueSize, 0);
    std::memcpy(value.data(), buffer, kScrambleLength);
    return value;
}

std::string CAccountList::DecodePasswordValue(std::span<const std::uint8_t> value) {
    char buffer[kScrambleLength + 1] = {};
    std::size_t length = std::min(value.size(), kScrambleLength);
    if (length > 0) {
        std::memcpy(buffer, value.data(), length);
    }
    auto zeroFrom = [&](std::size_t start) {
        return std::all_of(buffer + start, buffer + kScrambleLength, [](char ch) { return ch == 0; });
    };
    constexpr std::size_t kNoneLength = sizeof(kNoPasswordText) - 1;
    if (zeroFrom(0) || (std::memcmp(buffer, kNoPasswordText, kNoneLength) == 0 && zeroFrom(kNoneLength))) {
        return {};
    }
    UnscramblePassword(std::span<char>(buffer, kScrambleLength));
    std::size_t end = strnlen(buffer, kScrambleLength);
    if (end > kPasswordMax) {
        // No scrambled terminator: a value cut short by an earlier version at
        // a byte that scrambled to zero. Its tail is lost; better no password
        // than a wrong one.
        return {};
    }
    return std::string(buffer, end);
}

bool CAccountList::WriteSlot(int number, const AccountBytes& bytes) {
    if (number < 1) {
        return false;
    }
    Fd fd(OpenPlainFile(path_, O_RDWR));
    if (fd.get() < 0) {
        return false;
    }
    auto offset = static_cast<off_t>(number - 1) * static_cast<off_t>(kAccountRecordSize);
    bool ok = WriteAll(fd.get(), bytes.data(), bytes.size(), offset);
    // As durable as the rewrite: a saved account survives a power cut.
    ok = ok && ::fsync(fd.get()) == 0;
    return fd.Close() && ok;
}

bool CAccountList::RewriteCompacted() {
    std::string target = ResolvedPath(path_);
    struct stat old {};
    bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0)) {
        return false;  // a file we may not write is not ours to replace
    }

    std::vector<std::uint8_t> content;
    content.reserve(accounts_.size() * kAccountRecordSize);
    for (const auto& account : accounts_) {
        if (!account->IsBlank()) {
            AccountBytes bytes = EncodeAccountRecord(account->Record());
            content.insert(content.end(), bytes.begin(), bytes.end());
        }
    }

    // A sibling first, renamed over the file once it is safely written: a
    // crash half-way leaves the old file whole.
    std::string sibling = target + ".XXXXXX";
    Fd fd(::mkostemp(sibling.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    bool ok = true;
    if (exists) {
        ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd.get(), content.data(), content.size(), 0);
    ok = ok && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(sibling.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(sibling.c_str());
        return false;
    }
    Fd folder(::open(ParentFolder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        ::fsync(folder.get());
    }
    return true;
}

bool AccountListed(std::string_view dataFolder, std::string_view name, std::string_view server) {
    Fd fd(OpenPlainFile(AccountDataPath(dataFolder), O_RDONLY));
    if (fd.get() < 0) {
        return false;
    }
    std::vector<std::uint8_t> buffer(kAccountRecordSize);
    for (int slot = 0; slot < CAccountList::kMaxAccounts; ++slot) {
        if (ReadFull(fd.get(), buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) {
            return false;
        }
        AccountRecord record = DecodeAccountRecord(
            std::span<const std::uint8_t, kAccountRecordSize>(buffer.data(), kAccountRecordSize));
        record.TerminateFields();
        if (!record.Name().empty() && record.Name() == name && record.Server() == server) {
            return true;
        }
    }
    return false;
}

}  // namespace wp
