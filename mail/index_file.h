#pragma once
// An index file read once, with the lookups by unique id that the listing,
// the deletion and the fetches need. A lookup answers exactly what a scan
// from the first record would (the first record with the id wins), in
// constant time instead of a pass over the file per mail.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "mail/index_record.h"

namespace wp {

class IndexFile {
public:
    IndexFile() = default;
    explicit IndexFile(std::vector<IndexRecord> records);

    // Every whole record of the file (a trailing partial record is not
    // one); nullopt when the file cannot be opened or read.
    static std::optional<IndexFile> Read(const std::string& path);
    static std::optional<std::vector<IndexRecord>> ReadRecords(const std::string& path);
    // The same from an open file, from where it stands.
    static std::optional<std::vector<IndexRecord>> ReadRecords(std::FILE* file);

    const std::vector<IndexRecord>& Records() const { return records_; }
    int Count() const { return static_cast<int>(records_.size()); }

    // 0-based position of the first record with this id; -1 when there is
    // none, and always for "*" and the empty id.
    int FirstWithUid(std::string_view uid) const;
    // Where record `index`'s block starts in the header file: the sum of the
    // header lengths before it (a negative length in a damaged file counts 0).
    std::int64_t HeaderOffset(int index) const;

private:
    struct UidHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view uid) const { return std::hash<std::string_view>{}(uid); }
    };

    std::vector<IndexRecord> records_;
    std::unordered_map<std::string, int, UidHash, std::equal_to<>> firstByUid_;
    std::vector<std::int64_t> offsets_;
};

// A mail of the fresh listing looked up in the previous listing's index:
// the 1-based position of the first record with its id, or -1 (no such
// record, the placeholder or empty id, or that record marked deleted with
// seq 0). On a match `cached` gets that record and `headerOffset` the start
// of its block in the header file.
int FindCachedRecord(const IndexRecord& fresh, const IndexFile& cache, IndexRecord* cached,
                     std::int64_t* headerOffset);

// A cached mail looked up in a fresh listing's index: the seq of the first
// record with its id (-1 when none, or when that seq is 0), that record
// (with the current message number) in `serverRecord`.
int FindServerRecord(const IndexRecord& cached, const IndexFile& server, IndexRecord* serverRecord);

}  // namespace wp
