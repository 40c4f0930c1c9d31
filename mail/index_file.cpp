#include "mail/index_file.h"

#include <cstdio>
#include <memory>

namespace wp {

IndexFile::IndexFile(std::vector<IndexRecord> records) : records_(std::move(records)) {
    firstByUid_.reserve(records_.size());
    offsets_.reserve(records_.size());
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        offsets_.push_back(offset);
        std::int32_t length = records_[i].headerLength;
        offset += length > 0 ? length : 0;
        std::string_view uid = UidOf(records_[i]);
        if (IsUsableUid(uid)) {
            firstByUid_.try_emplace(std::string(uid), static_cast<int>(i));
        }
    }
}

std::optional<IndexFile> IndexFile::Read(const std::string& path) {
    std::optional<std::vector<IndexRecord>> records = ReadRecords(path);
    if (!records) {
        return std::nullopt;
    }
    return IndexFile(std::move(*records));
}

std::optional<std::vector<IndexRecord>> IndexFile::ReadRecords(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return std::nullopt;
    }
    return ReadRecords(file.get());
}

std::optional<std::vector<IndexRecord>> IndexFile::ReadRecords(std::FILE* file) {
    std::vector<IndexRecord> records;
    unsigned char buffer[kIndexRecordSize * 256];
    std::size_t pending = 0;
    for (;;) {
        std::size_t n = std::fread(buffer + pending, 1, sizeof buffer - pending, file);
        pending += n;
        std::size_t whole = pending / kIndexRecordSize;
        for (std::size_t i = 0; i < whole; ++i) {
            records.push_back(DecodeIndexRecord(buffer + i * kIndexRecordSize));
        }
        std::size_t rest = pending - whole * kIndexRecordSize;
        for (std::size_t i = 0; i < rest; ++i) {
            buffer[i] = buffer[whole * kIndexRecordSize + i];
        }
        pending = rest;
        if (n == 0) {
            break;
        }
    }
    if (std::ferror(file)) {
        return std::nullopt;
    }
    return records;
}

int IndexFile::FirstWithUid(std::string_view uid) const {
    if (!IsUsableUid(uid)) {
        return -1;
    }
    auto found = firstByUid_.find(uid);
    return found == firstByUid_.end() ? -1 : found->second;
}

std::int64_t IndexFile::HeaderOffset(int index) const {
    if (index < 0 || index >= Count()) {
        return 0;
    }
    return offsets_[static_cast<std::size_t>(index)];
}

int FindCachedRecord(const IndexRecord& fresh, const IndexFile& cache, IndexRecord* cached,
                     std::int64_t* headerOffset) {
    int at = cache.FirstWithUid(UidOf(fresh));
    if (at < 0) {
        return -1;
    }
    const IndexRecord& record = cache.Records()[static_cast<std::size_t>(at)];
    if (cached != nullptr) {
        *cached = record;
    }
    if (headerOffset != nullptr) {
        *headerOffset = cache.HeaderOffset(at);
    }
    return record.seq != 0 ? at + 1 : -1;
}

int FindServerRecord(const IndexRecord& cached, const IndexFile& server, IndexRecord* serverRecord) {
    int at = server.FirstWithUid(UidOf(cached));
    if (at < 0) {
        return -1;
    }
    const IndexRecord& record = server.Records()[static_cast<std::size_t>(at)];
    if (serverRecord != nullptr) {
        *serverRecord = record;
    }
    return record.seq != 0 ? record.seq : -1;
}

}  // namespace wp
