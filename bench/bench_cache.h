#pragma once
// Writes an account's index and header files as a listing leaves them, for
// benchmarks that start from a cache of many mails.

#include <cstdio>
#include <functional>
#include <string>

#include "mail/index_record.h"
#include "mail/mailbox_files.h"

namespace wp::bench {

// block(i) gives mail i's header block (the TOP reply) and size(i) its size.
inline void WriteCacheFiles(const CMailboxFiles& mailbox, int records,
                            const std::function<std::string(int)>& block,
                            const std::function<int(int)>& size) {
    std::string index;
    std::string header;
    index.reserve(static_cast<std::size_t>(records) * kIndexRecordSize);
    for (int i = 0; i < records; ++i) {
        std::string text = block(i);
        IndexRecord record = ListedRecord(i + 1, i + 1, size(i));
        record.headerLength = static_cast<int>(text.size());
        SetUid(record, "uid" + std::to_string(i));
        IndexRecordBytes bytes = EncodeIndexRecord(record);
        index.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        header += text;
    }
    for (const auto& [path, bytes] :
         {std::pair{&mailbox.sidPath, &index}, std::pair{&mailbox.kvtPath, &header}}) {
        FILE* f = std::fopen(path->c_str(), "wb");
        if (f == nullptr) {
            std::perror(path->c_str());
            return;
        }
        std::fwrite(bytes->data(), 1, bytes->size(), f);
        std::fclose(f);
    }
}

}  // namespace wp::bench
