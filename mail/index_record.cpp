#include "mail/index_record.h"

#include <cstring>

namespace wp {

void PutLittleEndian32(unsigned char* out, std::int32_t value) {
    auto v = static_cast<std::uint32_t>(value);
    out[0] = static_cast<unsigned char>(v & 0xFF);
    out[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    out[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
    out[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

std::int32_t GetLittleEndian32(const unsigned char* in) {
    std::uint32_t v = static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
                      (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
    return static_cast<std::int32_t>(v);
}

IndexRecordBytes EncodeIndexRecord(const IndexRecord& record) {
    IndexRecordBytes out{};
    PutLittleEndian32(out.data() + 0, record.seq);
    PutLittleEndian32(out.data() + 4, record.msgNo);
    PutLittleEndian32(out.data() + 8, record.size);
    PutLittleEndian32(out.data() + kHeaderLengthOffset, record.headerLength);
    std::memcpy(out.data() + kUidOffset, record.uid, kUidField);
    return out;
}

IndexRecord DecodeIndexRecord(const unsigned char* bytes) {
    IndexRecord record;
    record.seq = GetLittleEndian32(bytes + 0);
    record.msgNo = GetLittleEndian32(bytes + 4);
    record.size = GetLittleEndian32(bytes + 8);
    record.headerLength = GetLittleEndian32(bytes + kHeaderLengthOffset);
    std::memcpy(record.uid, bytes + kUidOffset, kUidField);
    return record;
}

std::string_view UidOf(const IndexRecord& record) {
    const void* zero = std::memchr(record.uid, '\0', kUidField);
    std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - record.uid) : kUidField;
    return {record.uid, length};
}

void SetUid(IndexRecord& record, std::string_view uid) {
    std::memset(record.uid, 0, kUidField);
    std::size_t n = uid.size() < kUidField - 1 ? uid.size() : kUidField - 1;
    std::memcpy(record.uid, uid.data(), n);
}

IndexRecord ListedRecord(std::int32_t seq, std::int32_t msgNo, std::int32_t size) {
    IndexRecord record;
    record.seq = seq;
    record.msgNo = msgNo;
    record.size = size;
    record.headerLength = 0;
    record.uid[0] = '*';
    return record;
}

bool IsCutUid(std::string_view uid) {
    return uid.size() > kUidMax;
}

bool IsUsableUid(std::string_view uid) {
    return !uid.empty() && uid != "*" && !IsCutUid(uid);
}

}  // namespace wp
