#include "accounts/account_info.h"
#include "decode/jis_sjis.h"

#include <cstring>

namespace wp {
namespace {

template <std::size_t N>
std::string_view FieldText(const char (&field)[N], std::size_t maxBytes) {
    static_assert(N >= 1);
    return std::string_view(field, strnlen(field, maxBytes < N ? maxBytes : N - 1));
}

template <std::size_t N>
void SetField(char (&field)[N], std::string_view text, std::size_t maxBytes) {
    static_assert(N >= 1);
    // Text past an embedded NUL could never be read back; leave it out.
    text = text.substr(0, text.find('\0'));
    std::size_t length = Cp932CutLength(text, maxBytes < N ? maxBytes : N - 1);
    // memmove: the text may be this very field.
    if (length > 0) {
        std::memmove(field, text.data(), length);
    }
    std::memset(field + length, 0, N - length);
}

void PutLe32(std::uint8_t* out, std::int32_t value) {
    auto bits = static_cast<std::uint32_t>(value);
    out[0] = static_cast<std::uint8_t>(bits);
    out[1] = static_cast<std::uint8_t>(bits >> 8);
    out[2] = static_cast<std::uint8_t>(bits >> 16);
    out[3] = static_cast<std::uint8_t>(bits >> 24);
}

std::int32_t GetLe32(const std::uint8_t* in) {
    std::uint32_t bits = static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
                         (static_cast<std::uint32_t>(in[2]) << 16) |
                         (static_cast<std::uint32_t>(in[3]) << 24);
    return static_cast<std::int32_t>(bits);
}

}  // namespace

std::size_t Cp932CutLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text.size();
    }
    std::size_t pos = 0;
    while (pos < maxBytes) {
        std::size_t step =
            (IsSjisLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) ? 2 : 1;
        if (pos + step > maxBytes) {
            break;
        }
        pos += step;
    }
    return pos;
}

std::string_view AccountRecord::Name() const {
    return FieldText(name, kAccountNameMax);
}
std::string_view AccountRecord::LoginId() const {
    return FieldText(loginId, kLoginIdMax);
}
std::string_view AccountRecord::Server() const {
    return FieldText(server, kServerMax);
}

void AccountRecord::SetName(std::string_view text) {
    SetField(name, text, kAccountNameMax);
}
void AccountRecord::SetLoginId(std::string_view text) {
    SetField(loginId, text, kLoginIdMax);
}
void AccountRecord::SetServer(std::string_view text) {
    SetField(server, text, kServerMax);
}

void AccountRecord::TerminateFields() {
    name[kAccountNameMax] = '\0';
    loginId[kLoginIdMax] = '\0';
    server[kServerMax] = '\0';
}

std::array<std::uint8_t, 32> AccountRecord::PinnedCert() const {
    std::array<std::uint8_t, 32> print{};
    std::memcpy(print.data(), pinnedCert, print.size());
    return print;
}

void AccountRecord::SetPinnedCert(const std::array<std::uint8_t, 32>& print) {
    std::memcpy(pinnedCert, print.data(), print.size());
}

std::string_view AccountInfo::Password() const {
    return FieldText(password, kPasswordMax);
}
void AccountInfo::SetPassword(std::string_view text) {
    SetField(password, text, kPasswordMax);
}

AccountBytes EncodeAccountRecord(const AccountRecord& record) {
    AccountBytes bytes{};
    std::memcpy(bytes.data(), &record, kAccountRecordSize);
    // The integers again, byte by byte, so the stored order never depends on the host.
    PutLe32(bytes.data() + offsetof(AccountRecord, number), record.number);
    PutLe32(bytes.data() + offsetof(AccountRecord, savePassword), record.savePassword);
    PutLe32(bytes.data() + offsetof(AccountRecord, useApop), record.useApop);
    PutLe32(bytes.data() + offsetof(AccountRecord, tlsMode), record.tlsMode);
    return bytes;
}

AccountRecord DecodeAccountRecord(std::span<const std::uint8_t, kAccountRecordSize> bytes) {
    AccountRecord record;
    std::memcpy(&record, bytes.data(), kAccountRecordSize);
    record.number = GetLe32(bytes.data() + offsetof(AccountRecord, number));
    record.savePassword = GetLe32(bytes.data() + offsetof(AccountRecord, savePassword));
    record.useApop = GetLe32(bytes.data() + offsetof(AccountRecord, useApop));
    record.tlsMode = GetLe32(bytes.data() + offsetof(AccountRecord, tlsMode));
    return record;
}

}  // namespace wp
