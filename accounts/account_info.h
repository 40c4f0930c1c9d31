#pragma once
// One configured account: the fixed record kept in AccData.dat and, in
// memory only, the plain password. Text fields are NUL-terminated CP932 bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace wp {

inline constexpr std::size_t kAccountRecordSize = 636;

// Longest texts, in bytes, without the terminator.
inline constexpr std::size_t kAccountNameMax = 255;
inline constexpr std::size_t kLoginIdMax = 49;
inline constexpr std::size_t kServerMax = 49;
inline constexpr std::size_t kPasswordMax = 49;

// The record exactly as stored (little-endian on disk). The padding is
// spelled out so that a value-initialised record is zero in every byte.
struct AccountRecord {
    std::int32_t number = -1;  // 1-based slot; -1 fresh, 0 blanked
    char name[257] = {};       // empty: a blanked slot
    char loginId[51] = {};
    char server[51] = {};  // host or host:port
    char padding1[1] = {};
    std::int32_t savePassword = 0;  // 1: the password is kept in the profile
    std::int32_t useApop = 0;       // 1: APOP, else USER/PASS
    std::int32_t tlsMode = 0;           // 0 none, 1 STLS, 2 TLS from the first byte
    std::uint8_t pinnedCert[32] = {};  // SHA-256 of a certificate the user trusts; zero: none
    char reserved2[225] = {};
    char padding2[3] = {};

    std::string_view Name() const;
    std::string_view LoginId() const;
    std::string_view Server() const;
    bool IsBlank() const { return name[0] == '\0'; }
    bool SavesPassword() const { return savePassword == 1; }
    bool UsesApop() const { return useApop != 0; }
    int Number() const { return number; }
    // The protection as stored: anything but 1 or 2 (every older file) is none.
    std::int32_t TlsModeValue() const { return tlsMode == 1 || tlsMode == 2 ? tlsMode : 0; }
    std::array<std::uint8_t, 32> PinnedCert() const;

    // Bounded copies: longer text is cut at the field's limit, never inside a
    // double-byte character, and the rest of the field is zeroed.
    void SetName(std::string_view text);
    void SetLoginId(std::string_view text);
    void SetServer(std::string_view text);
    void SetSavePassword(bool on) { savePassword = on ? 1 : 0; }
    void SetUseApop(bool on) { useApop = on ? 1 : 0; }
    void SetTlsModeValue(std::int32_t mode) { tlsMode = mode == 1 || mode == 2 ? mode : 0; }
    void SetPinnedCert(const std::array<std::uint8_t, 32>& print);

    // Puts a terminator at each text field's limit, so that a record read
    // from a damaged file can be used as text safely.
    void TerminateFields();
};

static_assert(std::is_trivially_copyable_v<AccountRecord>);
static_assert(std::is_standard_layout_v<AccountRecord>);
static_assert(std::has_unique_object_representations_v<AccountRecord>, "no hidden padding");
static_assert(sizeof(AccountRecord) == kAccountRecordSize);
static_assert(offsetof(AccountRecord, number) == 0);
static_assert(offsetof(AccountRecord, name) == 4);
static_assert(offsetof(AccountRecord, loginId) == 261);
static_assert(offsetof(AccountRecord, server) == 312);
static_assert(offsetof(AccountRecord, savePassword) == 364);
static_assert(offsetof(AccountRecord, useApop) == 368);
static_assert(offsetof(AccountRecord, tlsMode) == 372);
static_assert(offsetof(AccountRecord, pinnedCert) == 376);
static_assert(offsetof(AccountRecord, reserved2) == 408);

using AccountBytes = std::array<std::uint8_t, kAccountRecordSize>;

// The stored form, integers little-endian whatever the host.
AccountBytes EncodeAccountRecord(const AccountRecord& record);
AccountRecord DecodeAccountRecord(std::span<const std::uint8_t, kAccountRecordSize> bytes);

// An account as the store holds it: the record plus the plain password,
// which never goes to the data file.
struct AccountInfo : AccountRecord {
    char password[kPasswordMax + 2] = {};  // always terminated within

    std::string_view Password() const;
    void SetPassword(std::string_view text);

    AccountRecord& Record() { return *this; }
    const AccountRecord& Record() const { return *this; }
};

// The length of text cut to at most maxBytes without splitting a CP932
// double-byte character.
std::size_t Cp932CutLength(std::string_view text, std::size_t maxBytes);

}  // namespace wp
