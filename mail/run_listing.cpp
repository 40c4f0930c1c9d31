#include "mail/run_listing.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>

#include "mail/add_mail_to_list.h"
#include "mail/cache_io.h"
#include "mail/index_file.h"
#include "mail/listing_lines.h"
#include "net/pop3_session.h"
#include "platform/messages.h"

namespace wp {

namespace io = cache_io;

namespace {

// Rows reserved at most in advance, whatever count a server claims.
constexpr int kReserveLimit = 100000;

// The cached header file, read by offset.
class CachedHeaders {
public:
    explicit CachedHeaders(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ && ::fstat(fd_.get(), &st) == 0) {
            size_ = static_cast<std::int64_t>(st.st_size);
        }
    }
    // The whole block or nothing: a block the file cannot supply in full is
    // fetched again rather than shown or kept cut short.
    bool Read(std::int64_t offset, std::int32_t length, std::string* block) const {
        if (!fd_ || length <= 0 || offset < 0 || offset > size_ - length) {
            return false;
        }
        block->resize(static_cast<std::size_t>(length));
        if (io::ReadAt(fd_.get(), block->data(), block->size(), offset) != block->size()) {
            block->clear();
            return false;
        }
        return true;
    }

private:
    io::Fd fd_;
    std::int64_t size_ = 0;
};

// The count of the STAT reply "+OK count size"; nullopt when it has none.
std::optional<std::int32_t> StatCount(const char* reply) {
    std::string_view line(reply);
    line = line.substr(0, line.find('\n'));
    ListingTokens tokens = SplitListingLine(line);
    if (tokens.count < 2) {
        return std::nullopt;
    }
    return ParseCount(tokens.second);
}

}  // namespace

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
    if (session.List() <= 0 || !mailbox.WriteListIndex()) {
        return -1;
    }
    if (io::RegularFileSize(mailbox.NewIndexPath()).value_or(-1) !=
        static_cast<std::int64_t>(count) * static_cast<std::int64_t>(kIndexRecordSize)) {
        // STAT and LIST disagree about the same mailbox: neither can be trusted.
        return -1;
    }
    if (session.Uidl() <= 0 || !mailbox.WriteUidIndex()) {
        return -1;
    }
    std::optional<std::vector<IndexRecord>> fresh = IndexFile::ReadRecords(mailbox.NewIndexPath());
    if (!fresh || fresh->size() != static_cast<std::size_t>(count)) {
        return -1;
    }
    const std::vector<IndexRecord>& records = *fresh;

    // 7-9: the files of this run and the cache of the last one.
    io::FilePtr newHeader = io::Open(mailbox.NewHeaderPath(), "wb");
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
    bool filesOk = newHeader && newIndex;

    std::vector<MailEntry*> newList;
    newList.reserve(records.size());
    std::unordered_set<const MailEntry*> claimed;
    int result = count;

    // 10: one mail after the other, in the order of the fresh listing.
    for (std::size_t i = 0; i < records.size(); ++i) {
        YieldProcessor();
        const IndexRecord& record = records[i];
        const auto nextId = static_cast<std::uint32_t>(i + 1);
        int rowToUpdate = -1;
        MailEntry* entry = nullptr;
        std::string block;

        if (cache) {
            IndexRecord cached;
            std::int64_t headerOffset = 0;
            int position = FindCachedRecord(record, *cache, &cached, &headerOffset);
            MailEntry* old = position > 0 ? mailbox.EntryAt(position - 1) : nullptr;
            // Two mails with one id on the server: the second is fetched like
            // a new one instead of sharing the first one's entry.
            if (old != nullptr && claimed.count(old) != 0) {
                old = nullptr;
            }
            if (old != nullptr) {
                old->id = nextId;
                if (cached.headerLength != 0 &&
                    cachedHeaders->Read(headerOffset, cached.headerLength, &block)) {
                    entry = old;  // no TOP; the row stays as it is
                } else {
                    rowToUpdate = list.FindRow(old);
                }
            }
        }

        if (entry == nullptr) {
            mailbox.BeginCapture();
            if (session.Top(record.msgNo) == 0) {
                mailbox.DetachCapture();
                mailbox.EndCapture();
                result = -2;
                break;
            }
            block = mailbox.DetachCapture();
            mailbox.EndCapture();
            entry = AddMailToList(list, block.data(), block.size(), static_cast<std::uint32_t>(record.size),
                                  nextId, rowToUpdate, ctx.prompt);
            if (entry == nullptr) {
                // The row had lost its entry: the mail gets a row of its own.
                entry = AddMailToList(list, block.data(), block.size(),
                                      static_cast<std::uint32_t>(record.size), nextId, -1, ctx.prompt);
            }
        }

        claimed.insert(entry);
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
        filesOk = std::fclose(newHeader.release()) == 0 && filesOk;
    }
    filesOk = newIndex.Close() && filesOk;
    cachedHeaders.reset();
    DeleteIfExists(mailbox.ResponsePath(), ctx.prompt);
    DeleteIfExists(mailbox.lstPath, ctx.prompt);
    DropStaleEntries(mailbox, newList, list);
    AdoptNewList(mailbox, newList);
    if (filesOk) {
        mailbox.ReplaceHeaderAndIndex(ctx.prompt);
    } else {
        mailbox.DiscardHeaderAndIndex();
    }
    return result;
}

}  // namespace wp
