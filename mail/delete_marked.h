#pragma once
// Deleting the marked mails on the server: each marked row's mail is found
// by its unique id in a fresh UIDL listing and deleted with DELE under its
// current number. The server carries the deletions out only when it
// acknowledges QUIT, so the run is settled after the QUIT: only then do the
// index records say "deleted" (seq 0).

#include <cstdint>
#include <string>
#include <vector>

#include "mail/mail_entry.h"
#include "mail/mailbox_files.h"
#include "mail/operation_context.h"

namespace wp {

enum class DeleteOutcome {
    kDeleted,       // DELE accepted; carried out once QUIT is acknowledged
    kNotOnServer,   // its unique id is not on the server (deleted elsewhere): no DELE, the row goes
    kRefused,       // DELE answered "-ERR" or not at all: row, mark and record stay
    kNotDeletable,  // no unique id that names it alone, or no record of it: nothing sent, the row stays
};

struct DeletedRow {
    MailEntry* entry = nullptr;
    DeleteOutcome outcome = DeleteOutcome::kRefused;
    std::int32_t recordSeq = 0;  // its index record's seq before the run
};

struct DeletionReport {
    // 0 done, -1 a command before the loop failed (nothing deleted), -2 stopped early.
    int result = 0;
    // The marked rows handled, in the order they were handled.
    std::vector<DeletedRow> rows;
    // Set by SettleDeletion.
    bool settled = false;
    bool quitAcknowledged = false;

    int Count(DeleteOutcome outcome) const;
    // Marked mails that are still on the server because of this run: refused,
    // not deletable, or deleted but not carried out for want of a QUIT.
    int NotDeleted() const;
};

// Runs on the user-interface thread after the login. Sends NOOP, STAT, LIST,
// UIDL, then DELE once per marked mail found on the server. Rows whose mail
// was deleted or is not on the server go as they are handled (the rows
// around keep their order); the others keep their row and mark. Pumps
// messages and checks the session's cancel after each marked row. Holds the
// account's write lock while it runs; another process holding it gives -1
// with nothing sent. The index file is not touched: SettleDeletion does that.
int DeleteMarked(CMailboxFiles& mailbox, OperationContext& ctx, DeletionReport* report);

// After the QUIT that ends the session. When it was acknowledged, the records
// of the deleted mails (and of those no longer on the server) get seq 0.
// When not, the server kept every mail: only the records of mails not on the
// server change, and the rows of the mails sent DELE come back (appended,
// marked), so the list, the next account switch and the next listing all show
// them with their cached headers.
void SettleDeletion(CMailboxFiles& mailbox, MailList& list, DeletionReport& report, bool quitAcknowledged);

// The status text for a settled run (string id; IDS_STATUS_NOT_DELETED_COUNT
// takes the count NotDeleted gives).
int DeletionStatusId(const DeletionReport& report);

}  // namespace wp
