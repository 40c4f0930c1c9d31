// The cache files of an account: their names, and their deletion with the
// account, which must leave every other account's files alone.

#include "accounts/account_files.h"

#include <filesystem>
#include <fstream>

#include "platform/text.h"
#include "store_fixture.h"

namespace wp::test {
namespace {

class AccountFiles : public StoreTest {
protected:
    void Touch(const std::string& path) { std::ofstream(path) << "x"; }
    bool Exists(const std::string& path) {
        std::error_code ec;
        return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
    }
};

TEST_F(AccountFiles, NamesComeFromTheStemAsUtf8) {
    // "メール:1" in CP932: the colon goes, the rest is UTF-8 on disk.
    std::string name = "\x83\x81\x81\x5B\x83\x8B:1";
    AccountFilePaths files = AccountCacheFiles(name, dataFolder_);
    std::string base = dataFolder_ + "/" + Cp932ToUtf8("\x83\x81\x81\x5B\x83\x8B") + "1";
    EXPECT_EQ(files.header, base + ".kvt");
    EXPECT_EQ(files.index, base + ".sid");
    EXPECT_EQ(files.message, base + ".eml");
    EXPECT_EQ(files.list, base + ".lst");
}

TEST_F(AccountFiles, DeletionTakesOnlyThatAccountsFiles) {
    AccountFilePaths gone = AccountCacheFiles("a:b", dataFolder_);
    // Close neighbours: a longer stem, and one differing only in case.
    AccountFilePaths kept = AccountCacheFiles("abc", dataFolder_);
    AccountFilePaths alsoKept = AccountCacheFiles("AB", dataFolder_);
    for (const AccountFilePaths* files : {&gone, &kept, &alsoKept}) {
        for (const std::string* path : {&files->header, &files->index, &files->message}) {
            Touch(*path);
            Touch(*path + "_");
        }
        Touch(files->list + "_");
    }
    // A link planted under a cache name goes; what it points to stays.
    std::string target = root_ + "/elsewhere";
    Touch(target);
    std::filesystem::remove(gone.message);
    std::filesystem::create_symlink(target, gone.message);

    EXPECT_TRUE(DeleteAccountCacheFiles("a:b", dataFolder_));
    for (const std::string* path : {&gone.header, &gone.index, &gone.message}) {
        EXPECT_FALSE(Exists(*path)) << *path;
        EXPECT_FALSE(Exists(*path + "_")) << *path;
    }
    EXPECT_FALSE(Exists(gone.list + "_"));
    EXPECT_TRUE(Exists(target));
    for (const AccountFilePaths* files : {&kept, &alsoKept}) {
        for (const std::string* path : {&files->header, &files->index, &files->message}) {
            EXPECT_TRUE(Exists(*path)) << *path;
        }
        EXPECT_TRUE(Exists(files->list + "_"));
    }
    // Nothing left to delete is no failure.
    EXPECT_TRUE(DeleteAccountCacheFiles("a:b", dataFolder_));
}

}  // namespace
}  // namespace wp::test
