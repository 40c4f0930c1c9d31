// The name rules shared by the settings dialog and wrenpost-cli.

#include "accounts/account_rules.h"
#include "platform/string_table.h"
#include "store_fixture.h"

namespace wp::test {
namespace {

TEST(AccountRules, TrailingBlanksGoButNeverTheFirstCharacter) {
    EXPECT_EQ(TrimAccountName("work   "), "work");
    EXPECT_EQ(TrimAccountName("  a b "), "  a b");
    EXPECT_EQ(TrimAccountName("   "), " ");
    EXPECT_EQ(TrimAccountName(""), "");
}

TEST(AccountRules, CaseFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(EqualIgnoringCase("Work", "wORK"));
    EXPECT_FALSE(EqualIgnoringCase("Work", "Works"));
    // 0x82 0x60 (fullwidth A) and 0x82 0x81 (fullwidth a) are different
    // characters; and the trail byte 0x61 ('a') of 0x83 0x61 must not fold
    // into 0x83 0x41.
    EXPECT_FALSE(EqualIgnoringCase("\x82\x60", "\x82\x81"));
    EXPECT_FALSE(EqualIgnoringCase("\x83\x61", "\x83\x41"));
    EXPECT_TRUE(EqualIgnoringCase("\x83\x61x", "\x83\x61X"));
}

class AccountRulesStore : public StoreTest {};

TEST_F(AccountRulesStore, RefusalsAreTheDialogs) {
    auto store = Open(false);
    for (const char* name : {"AB", "Mail2", "x:y"}) {
        AccountRecord record = MakeRecord(name);
        ASSERT_TRUE(store->SaveAccount(record, ""));
    }
    struct Case {
        const char* name;
        int target;
        int refusal;
    } cases[] = {
        {"", 0, IDS_ACCOUNT_NAME_EMPTY},
        {"ab", 0, IDS_ACCOUNT_EXISTS},        // same name ignoring case
        {"AB", 1, 0},                         // the account itself
        {"ab", 1, 0},                         // itself, in another case
        {"a:b", 0, IDS_ACCOUNT_STEM_EXISTS},  // its stem "ab" is AB's
        {"A/B", 0, IDS_ACCOUNT_STEM_EXISTS},
        {"xy", 0, IDS_ACCOUNT_STEM_EXISTS},   // and the reverse: x:y's stem is "xy"
        {"Mail", 0, 0},                       // only Mail2 exists
        {"mail2", 0, IDS_ACCOUNT_EXISTS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckAccountName(*store, c.name, c.target), c.refusal);
    }
    // Names that differ only past the point where the file name is cut would
    // share one set of cache files (and delete each other's).
    std::string longName(90, '\xB1');
    AccountRecord longRecord = MakeRecord(longName + "1");
    ASSERT_TRUE(store->SaveAccount(longRecord, ""));
    EXPECT_EQ(CheckAccountName(*store, longName + "2", 0), IDS_ACCOUNT_STEM_EXISTS);
    EXPECT_EQ(CheckAccountName(*store, longName.substr(0, 60) + "2", 0), 0);
    // A blanked slot does not count.
    ASSERT_TRUE(store->ClearAccount(1));
    EXPECT_EQ(CheckAccountName(*store, "ab", 0), 0);
    EXPECT_EQ(FindAccount(*store, "Mail2"), 2);
    EXPECT_EQ(FindAccount(*store, "mail2"), 0);
}

}  // namespace
}  // namespace wp::test
