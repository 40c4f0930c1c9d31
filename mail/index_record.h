#pragma once
// One record of an account's index file: 88 bytes, little-endian, no header,
// one per listed mail in listing order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace wp {

struct IndexRecord {
    std::int32_t seq = 0;           // 1-based position in the listing that wrote it; 0 = deleted here
    std::int32_t msgNo = 0;         // message number from LIST
    std::int32_t size = 0;          // octets from LIST
    std::int32_t headerLength = 0;  // bytes of its block in the header file; 0 = no block
    char uid[72] = {};              // from UIDL, NUL-terminated and NUL-padded; "*" = none
};

static_assert(sizeof(IndexRecord) == 88);
static_assert(offsetof(IndexRecord, seq) == 0);
static_assert(offsetof(IndexRecord, msgNo) == 4);
static_assert(offsetof(IndexRecord, size) == 8);
static_assert(offsetof(IndexRecord, headerLength) == 12);
static_assert(offsetof(IndexRecord, uid) == 16);

inline constexpr std::size_t kIndexRecordSize = 88;
inline constexpr std::size_t kHeaderLengthOffset = 12;
inline constexpr std::size_t kUidOffset = 16;
inline constexpr std::size_t kUidField = 72;
// The longest unique id RFC 1939 allows. The field holds one byte more, so
// an id of 71 bytes or more is one that was cut to fit (or a damaged field).
inline constexpr std::size_t kUidMax = 70;

using IndexRecordBytes = std::array<unsigned char, kIndexRecordSize>;

// The stored form, whatever the byte order of this machine.
IndexRecordBytes EncodeIndexRecord(const IndexRecord& record);
IndexRecord DecodeIndexRecord(const unsigned char* bytes);

void PutLittleEndian32(unsigned char* out, std::int32_t value);
std::int32_t GetLittleEndian32(const unsigned char* in);

// The unique id up to its terminating zero; never reads past the field, so a
// record from a damaged file without a zero gives all 72 bytes.
std::string_view UidOf(const IndexRecord& record);

// Zeroes the field and copies at most 71 bytes of uid (RFC 1939 allows 70).
void SetUid(IndexRecord& record, std::string_view uid);

// A record of LIST before UIDL filled it: "*" and zeros.
IndexRecord ListedRecord(std::int32_t seq, std::int32_t msgNo, std::int32_t size);

// An id longer than any a server may give: one that SetUid cut, so two ids
// sharing their first 71 bytes look alike.
bool IsCutUid(std::string_view uid);

// The placeholder, the empty id and a cut id name no single mail: they must
// never make one mail's cached data, or a command, stand for another's.
bool IsUsableUid(std::string_view uid);

}  // namespace wp
