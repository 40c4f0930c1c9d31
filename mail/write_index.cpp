// The new index file from the LIST and UIDL replies in the response file.

#include <fcntl.h>

#include <limits>

#include "mail/cache_io.h"
#include "mail/index_record.h"
#include "mail/listing_lines.h"
#include "mail/mailbox_files.h"

namespace wp {

namespace io = cache_io;

bool CMailboxFiles::WriteListIndex(std::int64_t mails) {
    io::FilePtr in = io::Open(ResponsePath(), "rb");
    io::FilePtr out = io::Open(NewIndexPath(), "wb");
    if (!in || !out) {
        return false;
    }
    ListingLineReader reader(in.get());
    reader.SkipLine();
    bool ok = true;
    std::int32_t seq = 0;
    std::string_view line;
    for (;;) {
        ListingLineReader::Result result = reader.Next(&line);
        if (result == ListingLineReader::Result::kEnd) {
            break;
        }
        if (result == ListingLineReader::Result::kTooLong ||
            seq == std::numeric_limits<std::int32_t>::max()) {
            ok = false;
            break;
        }
        if (IsListingEnd(line)) {
            break;
        }
        if (seq >= mails) {
            // More lines than mails: nothing after them can be trusted, and
            // writing on would only fill the disk.
            ok = false;
            break;
        }
        ListingTokens tokens = SplitListingLine(line);
        if (tokens.count == 0) {
            break;
        }
        IndexRecord record = ListedRecord(++seq, ParseDecimal(tokens.first),
                                          tokens.count > 1 ? ParseDecimal(tokens.second) : 0);
        IndexRecordBytes bytes = EncodeIndexRecord(record);
        if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size()) {
            ok = false;
            break;
        }
    }
    if (std::ferror(in.get())) {
        ok = false;
    }
    return std::fclose(out.release()) == 0 && ok;
}

bool CMailboxFiles::WriteUidIndex() {
    std::optional<std::int64_t> size = io::RegularFileSize(NewIndexPath());
    io::FilePtr in = io::Open(ResponsePath(), "rb");
    io::Fd index(::open(NewIndexPath().c_str(), O_RDWR | O_CLOEXEC));
    if (!size || !in || !index) {
        return false;
    }
    const std::int64_t count = *size / static_cast<std::int64_t>(kIndexRecordSize);
    ListingLineReader reader(in.get());
    reader.SkipLine();
    bool ok = true;
    std::string_view line;
    for (std::int64_t k = 0; k < count;) {
        ListingLineReader::Result result = reader.Next(&line);
        if (result == ListingLineReader::Result::kEnd) {
            break;
        }
        if (result == ListingLineReader::Result::kTooLong) {
            ok = false;
            break;
        }
        ListingTokens tokens = SplitListingLine(line);
        if (tokens.count == 0) {
            break;
        }
        ++k;
        // A line without an id leaves the placeholder.
        if (tokens.count > 1) {
            IndexRecord field;
            SetUid(field, tokens.second);
            std::int64_t at =
                static_cast<std::int64_t>(kIndexRecordSize) * (k - 1) + static_cast<std::int64_t>(kUidOffset);
            if (!io::WriteAt(index.get(), field.uid, kUidField, at)) {
                ok = false;
                break;
            }
        }
    }
    if (std::ferror(in.get())) {
        ok = false;
    }
    return index.Close() && ok;
}

}  // namespace wp
