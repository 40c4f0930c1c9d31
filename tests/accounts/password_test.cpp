#include <cstring>

#include "accounts/account_list.h"
#include "store_fixture.h"

namespace wp::test {
namespace {

// The stored form is shared with existing profiles, so the key is restated
// here rather than taken from the code under test.
const char kKey[] = "73915026481735926048173592604817359260481735926048";

std::uint8_t K(std::size_t i) {
    return static_cast<std::uint8_t>(kKey[i]);
}

// A value as earlier versions wrote it: the scrambled bytes up to the first
// zero byte, then zeros up to 80.
std::vector<std::uint8_t> OldStyleValue(std::string_view password) {
    char buffer[51] = {};
    std::memcpy(buffer, password.data(), password.size());
    CAccountList::ScramblePassword(buffer);
    std::vector<std::uint8_t> value(80, 0);
    for (std::size_t i = 0; i < 50 && buffer[i] != 0; ++i) {
        value[i] = static_cast<std::uint8_t>(buffer[i]);
    }
    return value;
}

TEST(PasswordScramble, StopsAfterTheTerminator) {
    char buffer[51];
    std::memset(buffer, 0x5A, sizeof buffer);
    std::memcpy(buffer, "ab", 3);
    CAccountList::ScramblePassword(buffer);
    EXPECT_EQ(static_cast<std::uint8_t>(buffer[0]), static_cast<std::uint8_t>('a' + K(0)));
    EXPECT_EQ(static_cast<std::uint8_t>(buffer[1]), static_cast<std::uint8_t>('b' + K(1)));
    EXPECT_EQ(static_cast<std::uint8_t>(buffer[2]), K(2));
    for (int i = 3; i < 51; ++i) {
        ASSERT_EQ(buffer[i], 0x5A) << i;
    }
}

// Every byte value at every position goes through the buffer functions and
// through the stored value unchanged, including the bytes that scramble to
// zero (199 to 208, depending on the position).
TEST(PasswordScramble, EveryByteAtEveryPositionRoundTrips) {
    for (std::size_t pos = 0; pos < 49; ++pos) {
        for (int value = 1; value < 256; ++value) {
            std::string password(pos, 'x');
            password += static_cast<char>(value);
            char buffer[51] = {};
            std::memcpy(buffer, password.data(), password.size());
            CAccountList::ScramblePassword(buffer);
            ASSERT_EQ(static_cast<std::uint8_t>(buffer[pos]), static_cast<std::uint8_t>(value + K(pos)))
                << "pos " << pos << " value " << value;
            ASSERT_EQ(static_cast<std::uint8_t>(buffer[pos + 1]), K(pos + 1));
            CAccountList::UnscramblePassword(buffer);
            ASSERT_EQ(std::string(buffer), password) << "pos " << pos << " value " << value;
            ASSERT_EQ(buffer[pos + 1], '\0');

            auto stored = CAccountList::EncodePasswordValue(password);
            ASSERT_EQ(stored.size(), 80u);
            ASSERT_EQ(CAccountList::DecodePasswordValue(stored), password)
                << "pos " << pos << " value " << value;
        }
    }
}

TEST(PasswordValue, EmptyPasswordIsKeyByteThenZeros) {
    auto value = CAccountList::EncodePasswordValue("");
    std::vector<std::uint8_t> expected(80, 0);
    expected[0] = K(0);
    EXPECT_EQ(value, expected);
    EXPECT_EQ(CAccountList::DecodePasswordValue(value), "");
}

TEST(PasswordValue, LongestPasswordFillsFiftyBytes) {
    std::string password(49, 'Q');
    auto value = CAccountList::EncodePasswordValue(password);
    for (std::size_t i = 0; i < 49; ++i) {
        ASSERT_EQ(value[i], static_cast<std::uint8_t>('Q' + K(i))) << i;
    }
    EXPECT_EQ(value[49], K(49));
    for (std::size_t i = 50; i < 80; ++i) {
        ASSERT_EQ(value[i], 0) << i;
    }
    // Longer input is cut to 49 bytes before it is scrambled.
    EXPECT_EQ(CAccountList::EncodePasswordValue(std::string(60, 'Q')), value);
}

// Profiles written by earlier versions must keep working.
TEST(PasswordValue, OldStyleValuesReadTheSame) {
    const std::string passwords[] = {
        "",
        "secret",
        std::string(49, '~'),
        "\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68",  // パスワード
        "\x80\x81\xc6\xfe\xff",
    };
    for (const auto& password : passwords) {
        auto value = OldStyleValue(password);
        EXPECT_EQ(CAccountList::DecodePasswordValue(value), password);
        EXPECT_EQ(value, CAccountList::EncodePasswordValue(password)) << "same bytes when nothing is zero";
    }
}

struct ValueCase {
    const char* what;
    std::vector<std::uint8_t> value;
    std::string expected;
};

TEST(PasswordValue, OddValuesGiveNoneOrTheirPassword) {
    std::vector<std::uint8_t> shortValue = {static_cast<std::uint8_t>('a' + K(0)),
                                            static_cast<std::uint8_t>('b' + K(1)), K(2)};
    std::vector<std::uint8_t> longValue = CAccountList::EncodePasswordValue("long");
    longValue.resize(200, 0xEE);
    std::vector<std::uint8_t> none = Bytes("\x82\xc8\x82\xa2");
    none.resize(80, 0);
    // Cut by an earlier version at the 201 that scrambled to zero: no
    // terminator is left, so the rest cannot be known.
    std::vector<std::uint8_t> cut = OldStyleValue(std::string("ab") + "\xc7" + "cd");  // 199 + '9' = 256
    const ValueCase cases[] = {
        {"empty value", {}, ""},
        {"all zeros", std::vector<std::uint8_t>(80, 0), ""},
        {"the text of an unread value", none, ""},
        {"three bytes", shortValue, "ab"},
        {"longer than 80 bytes", longValue, "long"},
        {"cut at a zero by an earlier version", cut, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CAccountList::DecodePasswordValue(c.value), c.expected);
    }
}

using PasswordStore = StoreTest;

// The fault this mends: a password with a byte that scrambles to zero used
// to come back cut, or not at all.
TEST_F(PasswordStore, ZeroScramblingBytesSurviveSaveAndLoad) {
    std::vector<std::string> passwords;
    {
        auto store = Open(false);
        for (std::size_t pos = 0; pos < 49; ++pos) {
            std::string password(pos, 'p');
            password += static_cast<char>(256 - K(pos));
            if (pos < 48) {
                password += 'z';
            }
            std::string name = "acct" + std::to_string(pos);
            AccountRecord record = MakeRecord(name);
            store->SaveAccount(record, password);
            store->StorePassword(name, password);
            passwords.push_back(password);
        }
    }
    auto store = Open(true);
    ASSERT_EQ(store->Size(), 49);
    for (int n = 1; n <= 49; ++n) {
        EXPECT_EQ(store->Lookup(n)->Password(), passwords[static_cast<std::size_t>(n - 1)]) << n;
    }
}

TEST_F(PasswordStore, OldStyleValueLoadsThroughTheStore) {
    {
        auto store = Open(false);
        AccountRecord record = MakeRecord("old");
        store->SaveAccount(record, "");
    }
    profile_->SetBinary("Account", "old", OldStyleValue("hunter2"));
    auto store = Open(true);
    EXPECT_EQ(store->Lookup(1)->Password(), "hunter2");
}

// Account names become value names whole: whatever bytes they hold, each
// keeps its own password.
TEST_F(PasswordStore, AnyAccountNameKeepsItsPassword) {
    const std::string names[] = {
        "\x95\x5c\x8e\xa6",  // 表示: its trail byte is a backslash
        "a/b",
        "a\\b",
        "a\\\\b",
        "a=b",
        "[General]",
        " spaced name ",
        "%41",
        "_41",
        "A",
        "\x83\x7c\x83\x5c",
        std::string(255, 'L'),
    };
    {
        auto store = Open(false);
        int i = 0;
        for (const auto& name : names) {
            AccountRecord record = MakeRecord(name);
            store->SaveAccount(record, "");
            store->StorePassword(name, "pw" + std::to_string(i++));
        }
    }
    {
        auto store = Open(false);
        ASSERT_EQ(store->Size(), static_cast<int>(std::size(names)));
        for (int n = 1; n <= store->Size(); ++n) {
            EXPECT_EQ(store->Lookup(n)->Password(), "pw" + std::to_string(n - 1)) << names[n - 1];
        }
        // Deleting one takes its password and no other.
        store->ClearAccount(2);
        EXPECT_FALSE(profile_->HasValue("Account", "a/b"));
        EXPECT_TRUE(profile_->HasValue("Account", "a\\b"));
    }
    auto store = Open(true);
    ASSERT_EQ(store->Size(), static_cast<int>(std::size(names)) - 1);
    EXPECT_EQ(store->Lookup(1)->Password(), "pw0");
    EXPECT_EQ(store->Lookup(2)->Name(), "a\\b");
    EXPECT_EQ(store->Lookup(2)->Password(), "pw2");
}

TEST_F(PasswordStore, OnlyAccountsThatSaveTheirPasswordGetOne) {
    {
        auto store = Open(false);
        AccountRecord keeps = MakeRecord("keeps", "u", "s", true);
        AccountRecord typed = MakeRecord("typed", "u", "s", false);
        store->SaveAccount(keeps, "k");
        store->SaveAccount(typed, "t");
        store->StorePassword("keeps", "k");
        store->StorePassword("typed", "t");  // a value left behind must not be used
    }
    auto store = Open(false);
    EXPECT_EQ(store->Lookup(1)->Password(), "k");
    EXPECT_EQ(store->Lookup(2)->Password(), "");

    // Saved again without its password: the stored one is forgotten.
    AccountInfo keeps;
    keeps.Record() = *store->Lookup(1);
    keeps.SetSavePassword(false);
    store->SaveAccount(keeps);
    store->DeletePassword("keeps");
    EXPECT_FALSE(profile_->HasValue("Account", "keeps"));
}

TEST_F(PasswordStore, EmptySavedPasswordLoadsEmpty) {
    {
        auto store = Open(false);
        AccountRecord record = MakeRecord("blankpw");
        store->SaveAccount(record, "");
        store->StorePassword("blankpw", "");
    }
    auto value = profile_->GetBinary("Account", "blankpw");
    ASSERT_TRUE(value.has_value());
    std::vector<std::uint8_t> expected(80, 0);
    expected[0] = K(0);
    EXPECT_EQ(*value, expected);
    auto store = Open(true);
    EXPECT_EQ(store->Lookup(1)->Password(), "");
}

}  // namespace
}  // namespace wp::test
