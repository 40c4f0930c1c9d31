#pragma once
// The fetch for viewing: the mail of a list entry, found on the server by
// its unique id, received with RETR, stored as the account's message file,
// converted and shown in the viewer with its attachment names.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "mail/fetch_viewer.h"
#include "mail/index_record.h"
#include "mail/mail_entry.h"
#include "mail/mailbox_files.h"
#include "mail/operation_context.h"

namespace wp {

// Shown in the viewer's status line when the mail is no longer on the server.
inline constexpr const char* kNotOnServerText = "ﾒｰﾙｻｰﾊﾞに見つかりません";

// The index record of an entry: the one at (id - 1) x 88 of the account's
// index file. nullopt when there is none to read.
std::optional<IndexRecord> ReadEntryRecord(const CMailboxFiles& mailbox, const MailEntry& entry);

// Runs on the worker thread after the login; touches neither the list nor
// any widget: `entry` is a copy made on the user-interface thread, and the
// viewer is reached only through `viewer`. sourceCode gives the code the
// mail is converted from (-1 detects it) once the mail is in; the viewer's
// code choice keeps it in the profile's "Mail"/"Encode".
// Sends NOOP, STAT, LIST, UIDL and RETR with the mail's current number.
// Returns 0 when the mail is shown, -1 when a command failed or the receive
// was stopped, -2 when the mail cannot be found on the server (also for an
// empty mailbox, and for an entry the index file no longer describes).
// The LIST and UIDL replies and the converted text go to private
// temporaries, none of which is left behind.
int RunFetchForView(CMailboxFiles& mailbox, OperationContext& ctx, const MailEntry& entry,
                    FetchViewer& viewer, const std::function<std::int32_t()>& sourceCode);

}  // namespace wp
