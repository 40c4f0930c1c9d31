#include "accounts/account_info.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace wp {
namespace {

std::int32_t Le32At(const AccountBytes& bytes, std::size_t offset) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[offset]) |
                                     (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
                                     (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
                                     (static_cast<std::uint32_t>(bytes[offset + 3]) << 24));
}

std::string TextAt(const AccountBytes& bytes, std::size_t offset) {
    return std::string(reinterpret_cast<const char*>(bytes.data() + offset));
}

// Other programs and older files read these offsets; a shifted field would
// scramble every stored account.
TEST(AccountRecordLayout, FieldsLieAtTheirStoredOffsets) {
    AccountRecord record;
    record.number = 0x01020304;
    record.SetName("\x83\x65\x83\x58\x83\x67 name");
    record.SetLoginId("taro");
    record.SetServer("pop.example.jp:1110");
    record.SetSavePassword(true);
    record.SetUseApop(true);
    AccountBytes bytes = EncodeAccountRecord(record);

    EXPECT_EQ(bytes[0], 0x04);  // little-endian
    EXPECT_EQ(bytes[3], 0x01);
    EXPECT_EQ(TextAt(bytes, 4), "\x83\x65\x83\x58\x83\x67 name");
    EXPECT_EQ(TextAt(bytes, 261), "taro");
    EXPECT_EQ(TextAt(bytes, 312), "pop.example.jp:1110");
    EXPECT_EQ(Le32At(bytes, 364), 1);
    EXPECT_EQ(Le32At(bytes, 368), 1);
    EXPECT_EQ(bytes[363], 0);
    for (std::size_t i = 372; i < kAccountRecordSize; ++i) {
        ASSERT_EQ(bytes[i], 0) << "reserved or padding byte " << i;
    }

    AccountRecord back = DecodeAccountRecord(bytes);
    EXPECT_EQ(back.number, 0x01020304);
    EXPECT_EQ(back.Name(), record.Name());
    EXPECT_EQ(back.LoginId(), "taro");
    EXPECT_EQ(back.Server(), "pop.example.jp:1110");
    EXPECT_TRUE(back.SavesPassword());
    EXPECT_TRUE(back.UsesApop());
}

// The protection lives in what older files hold as reserved zeros, so every
// existing file keeps its meaning and its size.
TEST(AccountRecordLayout, TlsModeAndPinnedCertificateUseTheReservedBytes) {
    AccountRecord record;
    record.SetName("a");
    record.SetTlsModeValue(2);
    std::array<std::uint8_t, 32> print{};
    for (std::size_t i = 0; i < print.size(); ++i) {
        print[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    record.SetPinnedCert(print);
    AccountBytes bytes = EncodeAccountRecord(record);
    EXPECT_EQ(Le32At(bytes, 372), 2);
    for (std::size_t i = 0; i < print.size(); ++i) {
        ASSERT_EQ(bytes[376 + i], print[i]) << "pin byte " << i;
    }
    for (std::size_t i = 408; i < kAccountRecordSize; ++i) {
        ASSERT_EQ(bytes[i], 0) << "reserved byte " << i;
    }
    AccountRecord back = DecodeAccountRecord(bytes);
    EXPECT_EQ(back.TlsModeValue(), 2);
    EXPECT_EQ(back.PinnedCert(), print);

    struct Case {
        std::int32_t stored;
        std::int32_t read;
    } const cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 0}, {-1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        AccountBytes old = EncodeAccountRecord(AccountRecord{});
        old[372] = static_cast<std::uint8_t>(c.stored);
        old[373] = old[374] = old[375] = c.stored < 0 ? 0xFF : 0;
        EXPECT_EQ(DecodeAccountRecord(old).TlsModeValue(), c.read);
        EXPECT_EQ(DecodeAccountRecord(old).PinnedCert(), (std::array<std::uint8_t, 32>{}));
    }
}

TEST(AccountRecordLayout, FreshAccountIsMinusOneAndZeros) {
    AccountInfo fresh;
    AccountBytes bytes = EncodeAccountRecord(fresh);
    EXPECT_EQ(Le32At(bytes, 0), -1);
    for (std::size_t i = 4; i < kAccountRecordSize; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
    for (char ch : fresh.password) {
        ASSERT_EQ(ch, 0);
    }
    EXPECT_TRUE(fresh.IsBlank());
}

struct BoundedCase {
    const char* what;
    std::string text;
    std::size_t expected;  // bytes kept
};

// Over-long input must be cut at the field's limit and stay terminated, and
// a cut never leaves half of a double-byte character behind.
TEST(AccountRecordFields, SettersCutAtTheLimitAndTerminate) {
    std::string kana;  // "あ" repeated: two bytes each
    for (int i = 0; i < 200; ++i) {
        kana += "\x82\xA0";
    }
    const BoundedCase cases[] = {
        {"name at its limit", std::string(255, 'n'), 255},
        {"name one over", std::string(256, 'n'), 255},
        {"name far over", std::string(5000, 'n'), 255},
        {"name of double-byte characters", kana, 254},
        {"name with one single byte first", "a" + kana, 255},
        {"empty name", "", 0},
        {"name with an embedded NUL", std::string("ab\0cd", 5), 2},
        {"lead byte at the very end", std::string(10, 'x') + "\x82", 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AccountRecord record;
        std::memset(record.name, 'Z', sizeof record.name);  // stale bytes must go
        record.SetName(c.text);
        EXPECT_EQ(record.Name().size(), c.expected);
        EXPECT_EQ(record.Name(), std::string_view(c.text).substr(0, c.expected));
        EXPECT_EQ(record.name[c.expected], '\0');
        EXPECT_EQ(record.name[kAccountNameMax], '\0');
        EXPECT_EQ(record.name[kAccountNameMax + 1], '\0');
    }

    const std::string longText(80, 'x');
    AccountInfo info;
    info.SetLoginId(longText);
    info.SetServer(longText);
    info.SetPassword(longText);
    EXPECT_EQ(info.LoginId().size(), kLoginIdMax);
    EXPECT_EQ(info.Server().size(), kServerMax);
    EXPECT_EQ(info.Password().size(), kPasswordMax);
    EXPECT_EQ(info.loginId[49], '\0');
    EXPECT_EQ(info.server[49], '\0');
    EXPECT_EQ(info.password[49], '\0');
    EXPECT_EQ(info.password[50], '\0');
    // The password's cut stops before a double-byte character it would split.
    info.SetPassword(std::string(48, 'p') + "\x82\xA0");
    EXPECT_EQ(info.Password(), std::string(48, 'p'));
}

TEST(AccountRecordFields, SettingAFieldFromItselfKeepsIt) {
    AccountInfo info;
    info.SetPassword("secret");
    info.SetPassword(info.Password());
    EXPECT_EQ(info.Password(), "secret");
    info.SetName("name");
    info.SetName(info.Name().substr(1));
    EXPECT_EQ(info.Name(), "ame");
}

// A record from a damaged file may hold no terminator at all.
TEST(AccountRecordFields, UnterminatedRecordReadsWithinItsFields) {
    AccountBytes garbage;
    garbage.fill(0x41);
    AccountRecord record = DecodeAccountRecord(garbage);
    record.TerminateFields();
    EXPECT_EQ(record.Name(), std::string(255, 'A'));
    EXPECT_EQ(record.LoginId(), std::string(49, 'A'));
    EXPECT_EQ(record.Server(), std::string(49, 'A'));
    EXPECT_FALSE(record.SavesPassword());  // 0x41414141 is not 1
    EXPECT_TRUE(record.UsesApop());
}

}  // namespace
}  // namespace wp
