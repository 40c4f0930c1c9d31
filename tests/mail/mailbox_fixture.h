#pragma once
// Helpers of the cache and listing tests: a private data folder, files by
// their bytes, index records by their fields.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "mail/index_record.h"
#include "mail/mailbox_files.h"
#include "mail/memory_list.h"
#include "platform/prompt.h"

namespace wp::test {

// A fresh folder under the tests' temporary folder, removed afterwards.
class DataFolder {
public:
    DataFolder() {
        const char* base = std::getenv("WRENPOST_TEST_TMP");
        std::string root = base != nullptr ? base : "/tmp";
        std::filesystem::create_directories(root);
        std::string pattern = root + "/mail-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~DataFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    DataFolder(const DataFolder&) = delete;
    DataFolder& operator=(const DataFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void Spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

inline IndexRecord Record(int seq, int msgNo, int size, int headerLength, std::string_view uid) {
    IndexRecord r;
    r.seq = seq;
    r.msgNo = msgNo;
    r.size = size;
    r.headerLength = headerLength;
    SetUid(r, uid);
    return r;
}

inline std::string IndexBytes(const std::vector<IndexRecord>& records) {
    std::string bytes;
    for (const IndexRecord& r : records) {
        IndexRecordBytes b = EncodeIndexRecord(r);
        bytes.append(reinterpret_cast<const char*>(b.data()), b.size());
    }
    return bytes;
}

inline std::vector<IndexRecord> ReadIndex(const std::string& path) {
    std::string bytes = Slurp(path);
    std::vector<IndexRecord> records;
    for (std::size_t at = 0; at + kIndexRecordSize <= bytes.size(); at += kIndexRecordSize) {
        records.push_back(DecodeIndexRecord(reinterpret_cast<const unsigned char*>(bytes.data()) + at));
    }
    return records;
}

// A header file and an index file agree when the blocks that the header
// lengths mark out fill the header file exactly, each a whole TOP reply.
inline testing::AssertionResult ConsistentPair(const CMailboxFiles& mailbox) {
    if (!Exists(mailbox.sidPath) && !Exists(mailbox.kvtPath)) {
        return testing::AssertionSuccess() << "no cache";
    }
    std::string header = Slurp(mailbox.kvtPath);
    std::size_t at = 0;
    for (const IndexRecord& r : ReadIndex(mailbox.sidPath)) {
        if (r.headerLength == 0) {
            continue;
        }
        std::string block = header.substr(at, static_cast<std::size_t>(r.headerLength));
        if (block.size() != static_cast<std::size_t>(r.headerLength) || block.rfind("+OK", 0) != 0 ||
            block.size() < 5 || block.substr(block.size() - 5) != "\r\n.\r\n") {
            return testing::AssertionFailure() << "block of record " << r.seq << " is not a TOP reply";
        }
        at += block.size();
    }
    if (at != header.size()) {
        return testing::AssertionFailure()
               << "header file holds " << header.size() << " bytes, index says " << at;
    }
    return testing::AssertionSuccess();
}

// Answers every box with its default and remembers it.
class LenientPrompt final : public Prompt {
public:
    PromptAnswer Ask(const PromptRequest& request) override {
        asked.push_back(request);
        return answer.value_or(request.defaultAnswer);
    }
    std::vector<PromptRequest> asked;
    // Every box's answer, instead of its default.
    std::optional<PromptAnswer> answer;
};

}  // namespace wp::test
