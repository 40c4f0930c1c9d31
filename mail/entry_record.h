#pragma once
// The one way from a listed mail to its record in the index file. Every
// operation that acts on a row's mail on the server (view, delete, save)
// reads the row entry's IndexRecord through ReadEntryRecord and acts only
// on kSame: the record at (id - 1) x 88 may belong to another mail by now
// (another process listed the account, the file was damaged), and a
// placeholder, empty or cut unique id names no single mail.
//
//     IndexRecord record;
//     if (ReadEntryRecord(indexFd, *entry, &record) != EntryRecord::kSame) {
//         ...  // nothing is sent for this mail
//     }
//     int seq = FindServerRecord(record, serverIndex, &serverRecord);

#include <string>
#include <string_view>

#include "mail/index_record.h"
#include "mail/mail_entry.h"

namespace wp {

enum class EntryRecord {
    kSame,        // the record holds the entry's own usable id
    kNoUsableId,  // the entry's id is "*", empty or cut: it names no single mail
    kUnreadable,  // no whole record at the entry's position (or id 0)
    kOtherMail,   // the record there holds another id
};

// Whether the unique id of an entry names exactly one mail.
bool HasUsableUid(const MailEntry& entry);
// Whether the id was cut to fit its record.
bool UidWasCut(const MailEntry& entry);
// Whether record is the entry's own mail (same usable id); seq is not looked at.
bool IsRecordOf(const MailEntry& entry, const IndexRecord& record);

// Reads the entry's record (at (id - 1) x 88) from an open index file and
// checks it is the entry's mail. `record` gets what was read, also when it
// is another mail's.
EntryRecord ReadEntryRecord(int indexFd, const MailEntry& entry, IndexRecord* record);
// The same, opening the index file at path.
EntryRecord ReadEntryRecord(const std::string& indexPath, const MailEntry& entry, IndexRecord* record);

}  // namespace wp
