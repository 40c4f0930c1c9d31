#pragma once
// The server listing: brings the list and the account's cache files up to
// date with the mails on the server.

#include <string_view>
#include <vector>

#include "mail/mail_entry.h"
#include "mail/mail_list.h"
#include "mail/mailbox_files.h"
#include "mail/operation_context.h"

namespace wp {

// Runs on the user-interface thread after the login; ctx.checkConnection is
// the frame's liveness check (an empty one counts as success). Sends NOOP, STAT,
// LIST, UIDL, then TOP n 0 for each mail whose unique id is new or whose
// cached header block is empty; other mails keep their block and their row.
// Rows of mails gone from the server go, new mails are appended.
// Returns the STAT count (> 0) when every mail was handled, 0 for an empty
// mailbox, -1 when a command before the loop failed or its reply was
// malformed (the rows and files stay), -2 when a TOP failed or the session's
// cancel was set (checked once per mail); the rows handled so far and the
// cache files that describe them stay.
// The run holds the account's write lock: while another process holds it,
// the user is told and the result is -1 with nothing sent or changed. New
// cache files that cannot be written or put in place are reported and give
// -1 (the rows stay, the cache goes), and so does an account that
// ctx.accountStillValid finds gone at the end (nothing of the run is kept).
int RunListing(CMailboxFiles& mailbox, OperationContext& ctx);

// Whether a cached header block is one whole TOP reply: "+OK" first, the
// terminating CR LF "." CR LF last and nowhere before.
bool IsWholeTopReply(std::string_view block);

// Entries of the mailbox that are not in newList lose their rows and are
// released; the others now belong to newList, which AdoptNewList hands over.
void DropStaleEntries(CMailboxFiles& mailbox, const std::vector<MailEntry*>& newList, MailList& list);
// The mailbox takes newList's entries, in order, as its own.
void AdoptNewList(CMailboxFiles& mailbox, std::vector<MailEntry*>& newList);

}  // namespace wp
