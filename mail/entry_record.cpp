#include "mail/entry_record.h"

#include <fcntl.h>

#include "mail/cache_io.h"

namespace wp {

namespace io = cache_io;

bool HasUsableUid(const MailEntry& entry) {
    return IsUsableUid(entry.uid);
}

bool UidWasCut(const MailEntry& entry) {
    return IsCutUid(entry.uid);
}

bool IsRecordOf(const MailEntry& entry, const IndexRecord& record) {
    return HasUsableUid(entry) && UidOf(record) == entry.uid;
}

EntryRecord ReadEntryRecord(int indexFd, const MailEntry& entry, IndexRecord* record) {
    if (!HasUsableUid(entry)) {
        return EntryRecord::kNoUsableId;
    }
    if (entry.id == 0 || indexFd < 0) {
        return EntryRecord::kUnreadable;
    }
    unsigned char bytes[kIndexRecordSize];
    const auto offset = static_cast<std::int64_t>(entry.id - 1) * static_cast<std::int64_t>(kIndexRecordSize);
    if (io::ReadAt(indexFd, reinterpret_cast<char*>(bytes), sizeof bytes, offset) != sizeof bytes) {
        return EntryRecord::kUnreadable;
    }
    IndexRecord read = DecodeIndexRecord(bytes);
    if (record != nullptr) {
        *record = read;
    }
    return UidOf(read) == entry.uid ? EntryRecord::kSame : EntryRecord::kOtherMail;
}

EntryRecord ReadEntryRecord(const std::string& indexPath, const MailEntry& entry, IndexRecord* record) {
    if (!HasUsableUid(entry)) {
        return EntryRecord::kNoUsableId;
    }
    io::Fd fd(::open(indexPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    return ReadEntryRecord(fd.get(), entry, record);
}

}  // namespace wp
