#include "mail/run_listing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "mail/add_mail_to_list.h"
#include "mail/cache_io.h"
#include "mail/entry_record.h"
#include "mail/index_file.h"
#include "mail/listing_lines.h"
#include "net/pop3_session.h"
#include "platform/messages.h"
#include "platform/string_table.h"

namespace wp {

namespace io = cache_io;

namespace {

// Rows reserved at most in advance, whatever count a server claims.
constexpr int kReserveLimit = 100000;
// The application title, the caption of the framework's own message boxes.
constexpr int kAppTitleId = 57344;

// The cached header file, read by offset.
class CachedHeaders {
public:
    explicit CachedHeaders(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ && ::fstat(fd_.get(), &st) == 0) {
            size_ = static_cast<std::int64_t>(st.st_size);
        }
    }
    // A whole TOP reply or nothing: a block the file cannot supply in full,
    // or bytes that are not one reply (a damaged file, a shifted length), is
    // fetched again rather than shown on a row or carried forward.
    bool Read(std::int64_t offset, std::int32_t length, std::string* block) const {
        if (!fd_ || length <= 0 || offset < 0 || offset > size_ - length) {
            return false;
        }
        block->resize(static_cast<std::size_t>(length));
        if (io::ReadAt(fd_.get(), block->data(), block->size(), offset) != block->size() ||
            !IsWholeTopReply(*block)) {
            block->clear();
            return false;
        }
        return true;
    }

private:
    io::Fd fd_;
    std::int64_t size_ = 0;
};

void ShowWriteError(Prompt& prompt, int err) {
    PromptRequest request;
    request.text = io::SystemErrorText(err);
    request.caption = "Error";
    request.buttons = PromptButtons::Ok;
    request.icon = PromptIcon::Information;
    prompt.Ask(request);
}

}  // namespace

bool IsWholeTopReply(std::string_view block) {
    static constexpr std::string_view kEnd = "\r\n.\r\n";
    if (block.size() < 3 + kEnd.size() || block.substr(0, 3) != "+OK" ||
        block.substr(block.size() - kEnd.size()) != kEnd) {
        return false;
    }
    // The terminating line ends the reply: one inside it joins two blocks.
    return block.find(kEnd) == block.size() - kEnd.size();
}

void DropStaleEntries(CMailboxFiles& mailbox, const std::vector<MailEntry*>& newList, MailList& list) {
    std::unordered_set<const MailEntry*> kept(newList.begin(), newList.end());
    std::unordered_set<const MailEntry*> stale;
    for (const std::unique_ptr<MailEntry>& entry : mailbox.entries) {
        if (entry && kept.count(entry.get()) == 0) {
            stale.insert(entry.get());
        }
    }
    // One pass over the rows, one deletion of them all: a mailbox whose ids
    // all changed costs no more than one that kept them.
    std::vector<int> rows;
    for (int row = 0; row < list.RowCount() && !stale.empty(); ++row) {
        if (stale.count(list.RowEntry(row)) != 0) {
            rows.push_back(row);
        }
    }
    list.DeleteRows(std::move(rows));
    for (std::unique_ptr<MailEntry>& entry : mailbox.entries) {
        if (!entry) {
            continue;
        }
        if (stale.count(entry.get()) != 0) {
            entry.reset();
        } else {
            (void)entry.release();  // newList owns it now
        }
    }
}

void AdoptNewList(CMailboxFiles& mailbox, std::vector<MailEntry*>& newList) {
    std::vector<std::unique_ptr<MailEntry>> adopted;
    adopted.reserve(newList.size());
    for (MailEntry* entry : newList) {
        adopted.emplace_back(entry);
    }
    newList.clear();
    for (std::unique_ptr<MailEntry>& entry : mailbox.entries) {
        (void)entry.release();  // dropped or handed over above, never released twice
    }
    mailbox.entries = std::move(adopted);
}

int RunListing(CMailboxFiles& mailbox, OperationContext& ctx) {
    CPop3Session& session = ctx.session;
    MailList& list = ctx.list;
    auto progressRange = [&ctx](int done, int total) {
        if (ctx.progressRange) {
            ctx.progressRange(done, total);
        }
    };

    // 1-3: the connection, the count.
    if (ctx.checkConnection && !ctx.checkConnection()) {
        return -1;
    }
    list.ClearSortIndicator();
    progressRange(0, 0);
    // Everything from here writes the account's files: the response file,
    // the temporaries, the replacement. Another window or wrenpost-cli doing
    // the same would mix its files with ours.
    WriteLockScope lock(mailbox);
    if (lock.state() != CacheLock::State::kHeld) {
        mailbox.ReportLockRefused(lock.state(), ctx.prompt);
        return -1;
    }
    if (session.Noop() <= 0 || session.Stat() <= 0) {
        return -1;
    }
    std::optional<std::int32_t> stat = StatCount(session.reply);
    if (!stat) {
        return -1;  // without a count an empty mailbox cannot be told from a broken reply
    }
    const int count = *stat;

    // 4-5.
    list.ReserveRows(std::min(count, kReserveLimit) + 10);
    progressRange(0, count);
    if (count == 0) {
        DeleteIfExists(mailbox.kvtPath, ctx.prompt);
        DeleteIfExists(mailbox.sidPath, ctx.prompt);
        mailbox.ClearList(list);
        return 0;
    }

    // 6: the fresh listing in the new index file.
    mailbox.FinishPendingReplace();
    if (session.List() <= 0 || !mailbox.WriteListIndex(count)) {
        return session.cancel ? -2 : -1;
    }
    if (io::RegularFileSize(mailbox.NewIndexPath()).value_or(-1) !=
        static_cast<std::int64_t>(count) * static_cast<std::int64_t>(kIndexRecordSize)) {
        // STAT and LIST disagree about the same mailbox: neither can be trusted.
        return -1;
    }
    if (session.Uidl() <= 0 || !mailbox.WriteUidIndex()) {
        return session.cancel ? -2 : -1;
    }
    std::optional<std::vector<IndexRecord>> fresh = IndexFile::ReadRecords(mailbox.NewIndexPath());
    if (!fresh || fresh->size() != static_cast<std::size_t>(count)) {
        return -1;
    }
    const std::vector<IndexRecord>& records = *fresh;

    // 7-9: the files of this run and the cache of the last one.
    io::FilePtr newHeader = io::Open(mailbox.NewHeaderPath(), "wb");
    int writeError = newHeader ? 0 : errno;
    std::optional<IndexFile> cache;
    std::optional<CachedHeaders> cachedHeaders;
    if (!io::Exists(mailbox.sidPath) || !io::Exists(mailbox.kvtPath)) {
        mailbox.ClearList(list);
    } else {
        // A cache file that cannot be read is an empty one: every mail gets TOP.
        cache = IndexFile::Read(mailbox.sidPath);
        if (!cache) {
            cache.emplace();
        }
        cachedHeaders.emplace(mailbox.kvtPath);
    }
    io::Fd newIndex(::open(mailbox.NewIndexPath().c_str(), O_RDWR | O_CLOEXEC));
    if (!newIndex && writeError == 0) {
        writeError = errno;
    }
    bool filesOk = newHeader && newIndex;

    // The entries on screen, by the unique id they were made from. The index
    // file may have been rewritten by another process since they were loaded,
    // so an entry is found by its own id, never by its position in the file.
    std::unordered_map<std::string_view, MailEntry*> entryByUid;
    entryByUid.reserve(mailbox.entries.size());
    for (const std::unique_ptr<MailEntry>& entry : mailbox.entries) {
        if (entry && entry->id != 0 && HasUsableUid(*entry)) {
            entryByUid.try_emplace(entry->uid, entry.get());
        }
    }
    std::unordered_set<std::string_view> seenUids;
    seenUids.reserve(records.size());

    std::vector<MailEntry*> newList;
    newList.reserve(records.size());
    int result = count;

    // What each mail needs, decided in listing order (the first of two
    // mails with one id is the one that may use the cache).
    struct MailPlan {
        MailEntry* known = nullptr;  // the entry, and so the row, this mail has
        std::string block;
        bool cachedBlock = false;  // the header file holds its whole block
        bool topSent = false;      // its TOP went out ahead
    };
    auto planMail = [&](std::size_t j) {
        MailPlan plan;
        const IndexRecord& record = records[j];
        const std::string_view uid = UidOf(record);
        // Two mails with one id on the server: the second is fetched like a
        // new one instead of sharing the first one's header and entry.
        const bool firstWithUid = IsUsableUid(uid) && seenUids.insert(uid).second;
        if (cache && firstWithUid) {
            IndexRecord cached;
            std::int64_t headerOffset = 0;
            if (FindCachedRecord(record, *cache, &cached, &headerOffset) > 0) {
                if (auto found = entryByUid.find(uid); found != entryByUid.end()) {
                    plan.known = found->second;
                }
                plan.cachedBlock = cached.headerLength != 0 &&
                                   cachedHeaders->Read(headerOffset, cached.headerLength, &plan.block);
            }
        }
        return plan;
    };
    auto fromCache = [&list](const MailPlan& plan) {
        return plan.cachedBlock && plan.known != nullptr && list.FindRow(plan.known) >= 0;
    };
    std::deque<MailPlan> plans;  // plans[0] is mail i's
    std::size_t planned = 0;     // mails planned so far
    std::size_t examined = 0;    // plans looked at for sending ahead
    int pipelined = -1;          // not yet known
    // The TOPs of the next mails go out while earlier answers are on their
    // way; a mail whose row is found again after all still gets its answer.
    auto sendAhead = [&](std::size_t i) {
        while (pipelined != 0) {
            if (examined == plans.size()) {
                if (planned >= records.size() || plans.size() >= 2 * session.pipelineDepth) {
                    return;
                }
                plans.push_back(planMail(planned++));
            }
            MailPlan& plan = plans[examined];
            if (fromCache(plan)) {
                ++examined;
                continue;
            }
            if (pipelined < 0) {
                if (records.size() - i < 2) {
                    return;  // one mail left: nothing to overlap
                }
                pipelined = session.Pipelines() ? 1 : 0;
                continue;
            }
            const IndexRecord& record = records[i + examined];
            char text[64];
            const int n = std::snprintf(text, sizeof text, "TOP %d 0\r\n", record.msgNo);
            // Headers rarely run longer; a longer one only fills the window sooner.
            const std::uint64_t expected = std::min<std::uint64_t>(record.size, 8192) + 64;
            if (!session.RoomAhead(expected) || !session.SendAhead(text, n, expected)) {
                return;
            }
            plan.topSent = true;
            ++examined;
        }
    };

    // 10: one mail after the other, in the order of the fresh listing.
    for (std::size_t i = 0; i < records.size(); ++i) {
        YieldProcessor();
        const IndexRecord& record = records[i];
        const auto nextId = static_cast<std::uint32_t>(i + 1);
        const std::string_view uid = UidOf(record);
        if (plans.empty()) {
            plans.push_back(planMail(planned++));
        }
        sendAhead(i);
        MailPlan plan = std::move(plans.front());
        plans.pop_front();
        examined = examined > 0 ? examined - 1 : 0;
        MailEntry* known = plan.known;
        MailEntry* entry = nullptr;
        std::string block = std::move(plan.block);

        if (!plan.topSent && fromCache(plan)) {
            entry = known;  // no TOP; the row stays as it is
            entry->id = nextId;
        } else {
            block.clear();
            mailbox.BeginCapture();
            if (session.Top(record.msgNo) == 0) {
                mailbox.DetachCapture();
                mailbox.EndCapture();
                // Refused, cut off, or too long to be a header: what was
                // listed so far stays, as after a stop.
                result = -2;
                break;
            }
            block = mailbox.DetachCapture();
            mailbox.EndCapture();
            // TOP pumped messages: the user may have sorted the list, so the
            // row is looked up by its entry only when it is written.
            if (known != nullptr) {
                known->id = nextId;
                entry = AddMailToList(list, block.data(), block.size(),
                                      static_cast<std::uint32_t>(record.size), nextId, known, ctx.prompt);
            }
            if (entry == nullptr) {
                // A new mail, or one whose row has gone: a row of its own.
                entry = AddMailToList(list, block.data(), block.size(),
                                      static_cast<std::uint32_t>(record.size), nextId, nullptr, ctx.prompt);
            }
        }
        if (entry != known) {
            // (A known entry has this id already, and entryByUid looks at it.)
            entry->uid = std::string(uid);
        }

        newList.push_back(entry);
        list.EnsureVisible(list.RowCount() - 1);
        if (filesOk) {
            const bool fits =
                block.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
            unsigned char length[4];
            PutLittleEndian32(length, fits ? static_cast<std::int32_t>(block.size()) : 0);
            filesOk = fits && std::fwrite(block.data(), 1, block.size(), newHeader.get()) == block.size() &&
                      io::WriteAt(newIndex.get(), length, sizeof length,
                                  static_cast<std::int64_t>(i * kIndexRecordSize + kHeaderLengthOffset));
            if (!filesOk) {
                writeError = fits && errno != 0 ? errno : EFBIG;
            }
        }
        progressRange(static_cast<int>(nextId), count);
        if (ctx.progressPos) {
            ctx.progressPos(static_cast<int>(nextId));
        }

        DispatchPendingMessages();
        if (session.cancel) {
            result = -2;
            break;
        }
    }

    // 11-15, also after an interruption: the cache files describe the rows.
    if (newHeader) {
        const bool closed = std::fclose(newHeader.release()) == 0;
        if (!closed && filesOk) {
            writeError = errno;
        }
        filesOk = closed && filesOk;
    }
    if (!newIndex.Close() && filesOk) {
        writeError = errno;
        filesOk = false;
    }
    cachedHeaders.reset();
    DeleteIfExists(mailbox.ResponsePath(), ctx.prompt);
    DeleteIfExists(mailbox.lstPath, ctx.prompt);
    DropStaleEntries(mailbox, newList, list);
    AdoptNewList(mailbox, newList);
    if (ctx.accountStillValid && !ctx.accountStillValid()) {
        // The account was deleted (or pointed at another mailbox) while this
        // ran: what was listed belongs to nobody now, and a new account of the
        // same name must not inherit it.
        mailbox.DiscardHeaderAndIndex();
        DeleteAccountCacheFiles(mailbox.AccountName(), mailbox.DataFolder());
        mailbox.ClearList(list);
        PromptRequest request;
        request.text = LoadString(IDS_ACCOUNT_GONE);
        request.caption = LoadString(kAppTitleId);
        request.buttons = PromptButtons::Ok;
        request.icon = PromptIcon::Exclamation;
        ctx.prompt.Ask(request);
        return -1;
    }
    if (!filesOk) {
        // The rows stay, but no cache file may claim to describe them.
        mailbox.DiscardHeaderAndIndex();
        ShowWriteError(ctx.prompt, writeError != 0 ? writeError : EIO);
        return -1;
    }
    if (!mailbox.ReplaceHeaderAndIndex(ctx.prompt)) {
        return -1;  // reported; never "completed"
    }
    return result;
}

}  // namespace wp
