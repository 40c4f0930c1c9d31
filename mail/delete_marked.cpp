#include "mail/delete_marked.h"

#include <fcntl.h>

#include <cstdio>
#include <deque>
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

    // With pipelining the DELEs go out ahead of their answers; the answers
    // are taken in the order asked, each then settling its own row, found
    // afresh by its entry (rows move while messages are pumped). Rows that
    // need no DELE wait their turn behind those in flight, so the report
    // lists them in the same order as one at a time.
    struct Pending {
        DeletedRow handled;
        int msgNo = 0;  // 0: no DELE
        bool ahead = false;
    };
    std::deque<Pending> inFlight;
    int markedRows = 0;
    for (int row = 0; row < list.RowCount(); ++row) {
        markedRows += list.MarkImage(row) == kImageMarked ? 1 : 0;
    }
    const bool pipelined = server && markedRows > 1 && session.Pipelines();
    auto settle = [&](DeletedRow handled) {
        out.rows.push_back(handled);
        again = true;
        if (RemovesRow(handled.outcome)) {
            if (const int at = list.FindRow(handled.entry); at >= 0) {
                list.SetSelected(at, false);
                list.DeleteRow(at);
            }
        }
    };
    auto finishOne = [&] {
        Pending next = std::move(inFlight.front());
        inFlight.pop_front();
        if (next.msgNo > 0) {
            // A DELE sent ahead whose connection is gone is not sent again.
            const bool lost = next.ahead && session.Ahead() == 0;
            if (!lost && session.Dele(next.msgNo) > 0) {
                next.handled.outcome = DeleteOutcome::kDeleted;
            } else if (session.cancel) {
                // Stopped while waiting for the answer: the row is left as
                // it was, and the QUIT decides nothing about it (a DELE
                // that may have been accepted is carried out by QUIT, and
                // the next listing then drops the row).
                tried.erase(next.handled.entry);
                out.result = -2;
                stopped = true;
                return;
            } else {
                next.handled.outcome = DeleteOutcome::kRefused;
            }
        }
        settle(next.handled);
    };
    auto finishAll = [&] {
        while (!inFlight.empty()) {
            finishOne();
        }
    };
    auto submit = [&](const DeletedRow& handled, int msgNo) {
        if (msgNo > 0 && pipelined) {
            char text[64];
            const int n = std::snprintf(text, sizeof text, "DELE %d\r\n", msgNo);
            while (!inFlight.empty() && !session.RoomAhead(0)) {
                finishOne();
            }
            if (session.SendAhead(text, n, 0)) {
                inFlight.push_back({handled, msgNo, true});
                return;
            }
        }
        if (msgNo > 0 || !inFlight.empty()) {
            if (msgNo > 0) {
                finishAll();  // then this one alone
            }
            inFlight.push_back({handled, msgNo});
            if (msgNo > 0) {
                finishOne();
            }
            return;
        }
        settle(handled);
    };

    // Rows are read live: the user may sort, mark or unmark while messages
    // are pumped. A pass that handled a row (and so pumped) is followed by
    // another, so a row that moved above the scan is not missed; rows kept
    // are not tried twice.
    while (again && !stopped) {
        again = false;
        int row = 0;
        while (row < list.RowCount() && !stopped) {
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
            int msgNo = 0;
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
                } else {
                    msgNo = current.msgNo;
                }
            }
            const int before = list.RowCount();
            submit(handled, msgNo);
            // A row settled at once is gone from here; one in flight is
            // passed, and the pass after this one looks again.
            if (list.RowCount() == before || (row < list.RowCount() && list.RowEntry(row) == entry)) {
                ++row;
            }
            again = true;

            DispatchPendingMessages();
            if (session.cancel) {
                out.result = -2;
                stopped = true;
            }
        }
        // The answers already asked for are read, after a stop too: the
        // server acts on each of them.
        finishAll();
        if (session.cancel) {
            out.result = -2;
            stopped = true;
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
