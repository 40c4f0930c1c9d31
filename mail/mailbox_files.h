#pragma once
// The cache files of one account and the entries of its listed mails. The
// main frame holds the object of the selected account and replaces it at
// every account switch.
//
// Files in the data folder, named after the account (UTF-8 on disk):
//   <stem>.sid  index file: IndexRecord per listed mail
//   <stem>.kvt  header file: the TOP n 0 replies of those mails, back to back
//   <stem>.eml  message file: the RETR reply of the mail last viewed
//   <stem>.lst  list file: never written; "<stem>.lst_" holds LIST/UIDL replies
// Each rebuilt file is written as a sibling with "_" appended first.

#include <cstddef>
#include <functional>
#include <memory>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_files.h"
#include "mail/mail_entry.h"
#include "mail/mail_list.h"
#include "platform/prompt.h"

namespace wp {

// The file stem of an account (AccountFileStem, which also names the files
// the settings dialog deletes with an account).
std::string MailboxFileStem(std::string_view accountName);

class CMailboxFiles {
public:
    // accountName: CP932 bytes (cut at a zero byte); dataFolder: a path.
    // Also finishes a replacement of the header and index files that a
    // stopped run left half done (see FinishPendingReplace), unless a writer
    // is at work on them.
    CMailboxFiles(std::string_view accountName, std::string dataFolder);
    ~CMailboxFiles();
    CMailboxFiles(const CMailboxFiles&) = delete;
    CMailboxFiles& operator=(const CMailboxFiles&) = delete;

    // --- capture memory file: the session appends TOP and RETR replies ---
    void BeginCapture();
    // A no-op while no capture is open.
    void AppendCapture(const char* data, std::size_t length);
    // The bytes captured so far, which the caller now owns; the capture stays
    // open and empty. Empty when no capture is open.
    std::string DetachCapture();
    void EndCapture();
    bool Capturing() const { return capturing_; }

    // --- the account's CacheLock, held by this object while it writes ---
    // Every operation that writes the files below or their temporaries takes
    // it first and gives up when another holds it. kHeld also when this
    // object holds it already.
    CacheLock::State LockForWriting();
    void UnlockWriting();
    bool HoldsWriteLock() const { return writeLock_.Held(); }
    // Why the lock could not be taken (errno), for kFailed.
    int LockError() const { return lockError_; }
    // Tells the user why an operation could not take the lock: another
    // window or wrenpost-cli is writing (IDS_CACHE_BUSY), or the system's
    // error for the lock file.
    void ReportLockRefused(CacheLock::State state, Prompt& prompt) const;

    const std::string& AccountName() const { return accountName_; }
    const std::string& DataFolder() const { return dataFolder_; }

    // --- temporaries ---
    std::string ResponsePath() const { return lstPath + "_"; }
    std::string NewIndexPath() const { return sidPath + "_"; }
    std::string NewHeaderPath() const { return kvtPath + "_"; }
    std::string NewMessagePath() const { return emlPath + "_"; }

    // --- entries ---
    // The entry at a 0-based position of `entries`, or nullptr.
    MailEntry* EntryAt(int index) const;
    // Deletes every row of the list, then releases every entry.
    void ClearList(MailList& list);

    // After a successful LIST: the response file becomes the new index file,
    // one record per listing line. False when a file cannot be read or
    // written, or a listing line is longer than 1024 bytes (a malformed
    // reply: its rest would otherwise be read as more lines), or the listing
    // has more mails than `mails` (what STAT counted).
    bool WriteListIndex(std::int64_t mails = std::numeric_limits<std::int32_t>::max());
    // After a successful UIDL: the k-th listing line's id goes into the k-th
    // record of the new index file, matched by order, not by number; extra
    // lines are ignored, missing ones leave "*". False as above.
    bool WriteUidIndex();

    // The writers below expect the caller to hold the write lock.

    // Puts the new header and index files in place of the old ones. The index
    // goes first and the header file second, so that a run stopped between
    // the two leaves the new header file alone under its temporary name: the
    // only state in which that file exists without the new index file beside
    // it, and which FinishPendingReplace completes. On failure neither the
    // old nor a half pair is left: the index and header files are removed
    // (the entries are numbered for the new index by now), and a failure is
    // reported through the prompt.
    bool ReplaceHeaderAndIndex(Prompt& prompt);
    // Completes a replacement stopped after the index was renamed, and
    // removes the temporaries of a run stopped before it: afterwards the
    // account has the old pair or the new pair, never a mixture. Takes the
    // write lock for it when this object does not hold it; when another
    // holds it, a writer is at work on those very files and nothing is
    // touched.
    void FinishPendingReplace();
    // Removes the index and header files and their temporaries: what a run
    // that could not write its new files leaves, rather than a stale index.
    void DiscardHeaderAndIndex();

    std::string kvtPath;  // header file
    std::string lstPath;  // list file
    std::string emlPath;  // message file
    std::string sidPath;  // index file
    // In index-file order, one per record, records with seq 0 included.
    std::vector<std::unique_ptr<MailEntry>> entries;

private:
    void FinishPendingReplaceLocked();

    std::string accountName_;
    std::string dataFolder_;
    CacheLock writeLock_;
    int lockError_ = 0;
    bool capturing_ = false;
    std::string capture_;
};

// The account switch after the engine made the new object: empties the
// list and clears its sort arrow, then shows the cached listing (status 10020, a row per record with
// a non-zero seq and the count of rows as progress, status 10019). A missing
// header or index file, or an index whose size is not a multiple of 88,
// leaves the list empty without a word.
void LoadCachedList(CMailboxFiles& mailbox, MailList& list, Prompt& prompt,
                    const std::function<void(int done, int total)>& progressRange,
                    const std::function<void(int position)>& progressPos,
                    const std::function<void(int id)>& postStatus);

// Asks 40203 (Yes/No, No the default); on Yes deletes the header and index
// files, leaving rows and entries as they are. True when it deleted both.
// While another process writes them, says so and deletes nothing.
bool ClearCache(CMailboxFiles& mailbox, Prompt& prompt);

// Deletes a file; a missing one is no error. A failure shows the system's
// text for it (caption "Error", information icon) and the caller goes on.
// True when no file is left at the path.
bool DeleteIfExists(const std::string& path, Prompt& prompt);

// Holds the account's write lock for one run, unless it was held already.
class WriteLockScope {
public:
    explicit WriteLockScope(CMailboxFiles& mailbox)
        : mailbox_(mailbox), heldBefore_(mailbox.HoldsWriteLock()), state_(mailbox.LockForWriting()) {}
    ~WriteLockScope() {
        if (!heldBefore_) {
            mailbox_.UnlockWriting();
        }
    }
    WriteLockScope(const WriteLockScope&) = delete;
    WriteLockScope& operator=(const WriteLockScope&) = delete;
    CacheLock::State state() const { return state_; }

private:
    CMailboxFiles& mailbox_;
    bool heldBefore_;
    CacheLock::State state_;
};

}  // namespace wp
