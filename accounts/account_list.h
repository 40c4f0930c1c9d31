#pragma once
// The account store: every record of AccData.dat (which lies in the parent of
// the data folder) with the passwords kept, scrambled, in the profile section
// "Account". Numbers are slots: account n lives at byte (n - 1) x 636, and a
// deleted account stays as a blanked slot until a writable store is
// destroyed, which rewrites the file without the blanked slots.
//
// Nothing here reports to the user. A file or profile that cannot be used
// leaves the list empty or the file unchanged; nothing already stored is
// overwritten by a store that could not read it. A read-only store changes
// only its list: it writes neither the file nor the stored passwords (except
// through StorePassword and DeletePassword, which are asked for by name).
//
// One writer at a time, across processes: a writable store holds an advisory
// lock (flock on "AccData.lck" beside the file) from construction to
// destruction, so a second window's settings dialog or wrenpost-cli cannot
// write slots the first one's numbers point to, nor be undone by its
// compaction. A writable store that cannot take the lock loads like a
// read-only one and never writes (Writable() says so; the caller tells the
// user). Read-only stores take no lock: every rewrite is a rename.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_info.h"

namespace wp {

class Profile;

inline constexpr std::string_view kPasswordSection = "Account";
// The value of one stored password, in bytes.
inline constexpr std::size_t kPasswordValueSize = 80;
// The scrambled part of a password buffer: up to 49 bytes and the terminator.
inline constexpr std::size_t kScrambleLength = 50;

class CAccountList {
public:
    // More slots than any real configuration has; a file holding more is
    // loaded this far and never written (see Load).
    static constexpr int kMaxAccounts = 10000;

    enum class LockState { kNone, kHeld, kBusy, kFailed };

    // dataFolder is the data folder ("/x/y/Mail"); runs Load. A writable
    // store takes the lock first and, holding it, removes what a rewrite that
    // was killed left beside the file ("AccData.dat.XXXXXX").
    CAccountList(bool readOnly, std::string_view dataFolder, Profile& profile);
    // A writable store rewrites the file without its blanked slots.
    ~CAccountList();

    CAccountList(const CAccountList&) = delete;
    CAccountList& operator=(const CAccountList&) = delete;

    // Replaces the list with the file's records and the stored passwords. A
    // missing file is created empty; a trailing partial record is ignored.
    // Returns false when the file exists but could not be read whole (not a
    // plain file, unreadable, more than kMaxAccounts records); the store then
    // never writes the file.
    bool Load();

    // Writes record into the slot record.number, or appends it as a new
    // account when that number is not in the list; record.number holds the
    // slot used on return. The password stays in memory (see StorePassword).
    // Returns true when the file holds the record.
    bool SaveAccount(AccountRecord& record, std::string_view password);
    // The same, taking record and password from one object.
    bool SaveAccount(AccountInfo& account);

    // Blanks the account in memory and in its slot of the file and deletes its
    // stored password. A number outside the list changes nothing. Returns
    // true when the file holds the blanked slot.
    bool ClearAccount(int number);

    // The profile value of one account's password, replaced.
    void StorePassword(std::string_view name, std::string_view password);
    // Forgets a stored password (an account saved without its password).
    void DeletePassword(std::string_view name);

    // In place on the first 50 bytes of a buffer (fewer if it is shorter).
    // Scrambling stops after the terminator; unscrambling changes all 50.
    static void ScramblePassword(std::span<char> buffer);
    static void UnscramblePassword(std::span<char> buffer);

    // The stored value of a password, and the password a stored value holds
    // (empty when it holds none). Both ends keep all 50 scrambled bytes, so a
    // byte that scrambles to zero survives; values cut at the first zero byte,
    // as earlier versions wrote them, read the same as before.
    static std::vector<std::uint8_t> EncodePasswordValue(std::string_view password);
    static std::string DecodePasswordValue(std::span<const std::uint8_t> value);

    // The account with that number; nullptr outside 1 to Size().
    AccountInfo* Lookup(int number);
    const AccountInfo* Lookup(int number) const;
    // Accounts in the list, blanked slots included.
    int Size() const { return static_cast<int>(accounts_.size()); }

    bool ReadOnly() const { return readOnly_; }
    const std::string& Path() const { return path_; }
    // A writable store that holds the lock (and read the whole file).
    bool Writable() const { return MayWriteFile(); }
    // kNone for a read-only store; kBusy while another store holds it.
    LockState Lock() const { return lockState_; }
    // errno of a lock that could not be taken (kFailed).
    int LockError() const { return lockError_; }

private:
    bool MayWriteFile() const { return !readOnly_ && lockState_ == LockState::kHeld && fileIsOurs_; }
    void TakeLock();
    void RemoveLeftoverSiblings() const;
    bool WriteSlot(int number, const AccountBytes& bytes);
    bool RewriteCompacted();

    bool readOnly_;
    Profile& profile_;
    std::string path_;
    std::vector<std::unique_ptr<AccountInfo>> accounts_;
    // The list holds everything the file held, so writing it loses nothing.
    bool fileIsOurs_ = false;
    int lockFd_ = -1;
    LockState lockState_ = LockState::kNone;
    int lockError_ = 0;
};

// Whether AccData.dat (beside the data folder) holds an account of this name
// whose server is `server`, read now, without the stored passwords. An
// operation asks it before it keeps what it fetched: the account may have
// been deleted, or changed to another server, by another process meanwhile.
bool AccountListed(std::string_view dataFolder, std::string_view name, std::string_view server);

}  // namespace wp
