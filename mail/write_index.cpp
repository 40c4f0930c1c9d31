// The new index file from the LIST and UIDL replies in the response file.

#include <fcntl.h>

#include <algorithm>
#include <cstring>
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
    // The records are filled in a block at a time: one write per block, not
    // one per mail.
    constexpr std::int64_t kBlockRecords = 512;
    std::string block;
    std::int64_t blockFirst = 0;  // the record the block begins with
    bool ok = true;
    auto flush = [&]() {
        if (!block.empty() && !io::WriteAt(index.get(), block.data(), block.size(),
                                           blockFirst * static_cast<std::int64_t>(kIndexRecordSize))) {
            ok = false;
        }
        block.clear();
    };
    auto load = [&](std::int64_t first) {
        const std::int64_t records = std::min(kBlockRecords, count - first);
        block.resize(static_cast<std::size_t>(records) * kIndexRecordSize);
        blockFirst = first;
        if (io::ReadAt(index.get(), block.data(), block.size(),
                       first * static_cast<std::int64_t>(kIndexRecordSize)) != block.size()) {
            ok = false;
        }
    };
    ListingLineReader reader(in.get());
    reader.SkipLine();
    std::string_view line;
    for (std::int64_t k = 0; k < count && ok;) {
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
            const std::int64_t record = k - 1;
            if (block.empty() || record >= blockFirst + kBlockRecords) {
                flush();
                if (!ok) {
                    break;
                }
                load(record);
                if (!ok) {
                    break;
                }
            }
            IndexRecord field;
            SetUid(field, tokens.second);
            const std::size_t at = static_cast<std::size_t>(record - blockFirst) * kIndexRecordSize;
            std::memcpy(block.data() + at + kUidOffset, field.uid, kUidField);
        }
    }
    if (ok) {
        flush();
    }
    if (std::ferror(in.get())) {
        ok = false;
    }
    return index.Close() && ok;
}

}  // namespace wp
