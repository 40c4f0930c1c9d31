#include "mail/delete_marked.h"

#include <fcntl.h>

#include <optional>
#include <string_view>
#include <unordered_set>

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

// The temporaries of the fresh listing go whatever happened.
class ListingTemporaries {
public:
    ListingTemporaries(CMailboxFiles& mailbox, Prompt& prompt) : mailbox_(mailbox), prompt_(prompt) {}
    ~ListingTemporaries() {
        DeleteIfExists(mailbox_.ResponsePath(), prompt_);
        DeleteIfExists(mailbox_.NewHeaderPath(), prompt_);
        DeleteIfExists(mailbox_.NewIndexPath(), prompt_);
    }
    ListingTemporaries(const ListingTemporaries&) = delete;
    ListingTemporaries& operator=(const ListingTemporaries&) = delete;

private:
    CMailboxFiles& mailbox_;
    Prompt& prompt_;
};

bool RemovesRow(DeleteOutcome outcome) {
    return outcome == DeleteOutcome::kDeleted || outcome == DeleteOutcome::kNotOnServer;
}

}  // namespace

int DeletionReport::Count(DeleteOutcome outcome) const {
    int n = 0;
    for (const DeletedRow& row : rows) {
        n += row.outcome == outcome ? 1 : 0;
    }
    return n;
}

int DeletionReport::NotDeleted() const {
    int n = Count(DeleteOutcome::kRefused) + Count(DeleteOutcome::kNotDeletable);
    if (settled && !quitAcknowledged) {
        n += Count(DeleteOutcome::kDeleted);
    }
    return n;
}

int DeleteMarked(CMailboxFiles& mailbox, OperationContext& ctx, DeletionReport* report) {
    DeletionReport local;
    DeletionReport& out = report != nullptr ? *report : local;
    out = DeletionReport{};
    out.result = -1;
    CPop3Session& session = ctx.session;
    MailList& list = ctx.list;

    // The response file and the temporaries are the account's: another
    // window or wrenpost-cli listing it would mix its files with ours.
    WriteLockScope lock(mailbox);
    if (lock.state() != CacheLock::State::kHeld) {
        mailbox.ReportLockRefused(lock.state(), ctx.prompt);
        return -1;
    }
    if (session.Noop() <= 0 || session.Stat() <= 0) {
        return -1;
    }
    std::optional<std::int32_t> count = StatCount(session.reply);
    if (!count) {
        return -1;
    }
    ListingTemporaries temporaries(mailbox, ctx.prompt);
    DeleteIfExists(mailbox.NewHeaderPath(), ctx.prompt);
    DeleteIfExists(mailbox.NewIndexPath(), ctx.prompt);

    std::optional<IndexFile> server;
    if (*count != 0) {
        mailbox.FinishPendingReplace();
        if (session.List() <= 0 || !mailbox.WriteListIndex() || session.Uidl() <= 0 ||
            !mailbox.WriteUidIndex()) {
            return -1;
        }
        server = IndexFile::Read(mailbox.NewIndexPath());
        // STAT and LIST disagreeing about one mailbox leave no number to trust.
        if (!server || server->Count() != *count) {
            return -1;
        }
    }
    io::Fd index(::open(mailbox.sidPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    out.result = 0;

    // Rows are read live: the user may sort, mark or unmark while messages
    // are pumped. A pass that handled a row (and so pumped) is followed by
    // another, so a row that moved above the scan is not missed; rows kept
    // are not tried twice.
    std::unordered_set<const MailEntry*> tried;
    bool stopped = false;
    bool again = true;
    while (again && !stopped) {
        again = false;
        int row = 0;
        while (row < list.RowCount()) {
            MailEntry* entry = list.RowEntry(row);
            const int image = list.MarkImage(row);
            if (entry == nullptr || image < 0) {
                break;
            }
            if (image != kImageMarked || tried.count(entry) != 0) {
                ++row;
                continue;
            }
            tried.insert(entry);
            list.EnsureVisible(row);

            DeletedRow handled;
            handled.entry = entry;
            IndexRecord record;
            if (!server) {
                handled.outcome = DeleteOutcome::kNotOnServer;  // an empty mailbox
            } else if (ReadEntryRecord(index.get(), *entry, &record) != EntryRecord::kSame) {
                // Without its own record (a cleared cache, another process's
                // listing since, a placeholder id) no number can be trusted to
                // be this mail.
                handled.outcome = DeleteOutcome::kNotDeletable;
            } else {
                handled.recordSeq = record.seq;
                IndexRecord current;
                if (FindServerRecord(record, *server, &current) < 0) {
                    handled.outcome = DeleteOutcome::kNotOnServer;
                } else if (session.Dele(current.msgNo) > 0) {
                    handled.outcome = DeleteOutcome::kDeleted;
                } else if (session.cancel) {
                    // Stopped while waiting for the answer: the row is left as
                    // it was, and the QUIT decides nothing about it (a DELE
                    // that may have been accepted is carried out by QUIT, and
                    // the next listing then drops the row).
                    tried.erase(entry);
                    out.result = -2;
                    stopped = true;
                    break;
                } else {
                    handled.outcome = DeleteOutcome::kRefused;
                }
            }
            out.rows.push_back(handled);
            again = true;
            if (RemovesRow(handled.outcome)) {
                list.SetSelected(row, false);
                list.DeleteRow(row);
            } else {
                ++row;
            }

            DispatchPendingMessages();
            if (session.cancel) {
                out.result = -2;
                stopped = true;
                break;
            }
        }
    }
    return out.result;
}

void SettleDeletion(CMailboxFiles& mailbox, MailList& list, DeletionReport& report, bool quitAcknowledged) {
    report.settled = true;
    report.quitAcknowledged = quitAcknowledged;
    if (!quitAcknowledged) {
        for (const DeletedRow& row : report.rows) {
            if (row.outcome == DeleteOutcome::kDeleted && row.entry != nullptr && list.FindRow(row.entry) < 0) {
                list.InsertRow(row.entry, kImageMarked);
            }
        }
    }
    // Another process writing the files now lists the server afresh: what it
    // writes is right whatever this run did.
    WriteLockScope lock(mailbox);
    if (lock.state() != CacheLock::State::kHeld) {
        return;
    }
    io::Fd index(::open(mailbox.sidPath.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!index) {
        return;
    }
    for (const DeletedRow& row : report.rows) {
        const bool gone = row.outcome == DeleteOutcome::kNotOnServer ||
                          (row.outcome == DeleteOutcome::kDeleted && quitAcknowledged);
        if (!gone || row.entry == nullptr || row.recordSeq == 0) {
            continue;
        }
        // Only a record that still holds this mail's id is marked.
        IndexRecord record;
        if (ReadEntryRecord(index.get(), *row.entry, &record) != EntryRecord::kSame) {
            continue;
        }
        unsigned char zero[4];
        PutLittleEndian32(zero, 0);
        io::WriteAt(index.get(), zero, sizeof zero,
                    static_cast<std::int64_t>(row.entry->id - 1) * static_cast<std::int64_t>(kIndexRecordSize));
    }
}

int DeletionStatusId(const DeletionReport& report) {
    if (report.result == -1) {
        return IDS_STATUS_NOTHING_DELETED;
    }
    if (report.settled && !report.quitAcknowledged && report.Count(DeleteOutcome::kDeleted) > 0) {
        return IDS_STATUS_DELETE_NOT_DONE;
    }
    if (report.result == -2) {
        return IDS_STATUS_DELETE_STOPPED;
    }
    if (report.NotDeleted() > 0) {
        return IDS_STATUS_NOT_DELETED_COUNT;
    }
    return IDS_STATUS_DELETED;
}

}  // namespace wp
