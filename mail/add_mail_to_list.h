#pragma once
// The header summary of one listed mail, written to its list row.

#include <cstddef>
#include <cstdint>

#include "decode/header_fields.h"
#include "mail/mail_list.h"
#include "platform/prompt.h"

namespace wp {

// Shows the box for an invalid base64 character in an encoded word.
InvalidCharReport InvalidCharBox(Prompt& prompt);

// Summarises a header block as TOP n 0 returned it and has the list write the
// row: without an entry to update it appends (the new entry belongs to the
// caller), otherwise that entry's row is updated in place, found after the
// summary (whose message box lets the user sort the list); id 0 gives an
// entry without a row. Returns the entry, or nullptr when `update` has no
// row.
[[nodiscard]] MailEntry* AddMailToList(MailList& list, const char* block, std::size_t length,
                                       std::uint32_t size, std::uint32_t id, MailEntry* update,
                                       Prompt& prompt);

}  // namespace wp
