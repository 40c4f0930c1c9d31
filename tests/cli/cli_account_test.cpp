// The account commands through the real program: the store, the stored
// passwords and the settings dialog's refusals.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "accounts/account_list.h"
#include "cli_runner.h"
#include "platform/profile.h"
#include "platform/string_table.h"

namespace wp {
namespace {

using test::CliRunner;
using test::Contains;
using test::SystemText;

TEST(CliAccount, AddListAndRemoveWithTheDialogsRefusals) {
    struct Step {
        std::vector<std::string> args;
        int status;
        std::string out;  // exactly, for "account list"
        std::string err;  // contained in standard error
    } steps[] = {
        {{"account", "list"}, 0, "", ""},
        {{"account", "add", "ab", "--server", "pop.example.jp", "--login", "taro", "--password", "secret"},
         0,
         "",
         ""},
        {{"account", "add", "AB", "--server", "x", "--login", "y"}, 1, "", SystemText(IDS_ACCOUNT_EXISTS)},
        {{"account", "add", "a:b", "--server", "x", "--login", "y"},
         1,
         "",
         SystemText(IDS_ACCOUNT_STEM_EXISTS)},
        {{"account", "add", "", "--server", "x", "--login", "y"}, 1, "", SystemText(IDS_ACCOUNT_NAME_EMPTY)},
        // Trailing blanks go, as in the dialog; the wave dash a Japanese
        // input method types is stored as CP932 0x8160, which reads back as
        // U+FF5E.
        {{"account", "add", "ｱｶｳﾝﾄ〜2  ", "--server", "pop.example.jp:110", "--login", "hanako", "--apop",
          "--no-save-password"},
         0,
         "",
         ""},
        {{"account", "add", "ｱｶｳﾝﾄ〜2", "--server", "x", "--login", "y"},
         1,
         "",
         SystemText(IDS_ACCOUNT_EXISTS)},
        {{"account", "list"},
         0,
         "ab\tpop.example.jp\ttaro\tuser\tnone\n"
         "ｱｶｳﾝﾄ～2\tpop.example.jp:110\thanako\tapop\tnone\n",
         ""},
        // No password saved and none given: the receive command refuses
        // before anything goes to the server.
        {{"list", "ｱｶｳﾝﾄ〜2"}, 1, "", SystemText(IDS_ENTER_PASSWORD)},
        {{"list", "nobody", "--password", "pw"}, 1, "", "nobody"},
        {{"cached", "nobody"}, 1, "", "nobody"},
        // Removal takes the exact name.
        {{"account", "remove", "AB"}, 1, "", "AB"},
        {{"account", "remove", "ab"}, 0, "", ""},
        {{"account", "list"}, 0, "ｱｶｳﾝﾄ～2\tpop.example.jp:110\thanako\tapop\tnone\n", ""},
        {{"account", "add", "AB", "--server", "x", "--login", "y"}, 0, "", ""},
        {{"account", "list"},
         0,
         "ｱｶｳﾝﾄ～2\tpop.example.jp:110\thanako\tapop\tnone\n"
         "AB\tx\ty\tuser\tnone\n",
         ""},
    };
    CliRunner cli;
    for (const Step& step : steps) {
        std::string line;
        for (const auto& a : step.args) {
            line += a + " ";
        }
        SCOPED_TRACE(line);
        test::CliResult r = cli.Run(step.args);
        EXPECT_EQ(r.status, step.status) << r.err;
        EXPECT_EQ(r.out, step.out);
        EXPECT_TRUE(Contains(r.err, step.err)) << r.err;
        if (step.status == 0) {
            EXPECT_TRUE(r.err.empty()) << r.err;
        }
    }
    // The data lies where the program keeps it.
    EXPECT_TRUE(std::filesystem::is_regular_file(cli.DataDir() + "/AccData.dat"));
    EXPECT_TRUE(std::filesystem::is_directory(cli.MailFolder()));
}

TEST(CliAccount, WithoutADataFolderTheCurrentDirectoryHoldsTheData) {
    CliRunner cli;
    std::filesystem::create_directories(cli.DataDir());
    test::CliResult r =
        cli.Run({"account", "add", "here", "--server", "s", "--login", "l"}, false, cli.DataDir());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(cli.DataDir() + "/AccData.dat"));
    EXPECT_TRUE(std::filesystem::is_directory(cli.MailFolder()));
    EXPECT_EQ(cli.Run({"account", "list"}).out, "here\ts\tl\tuser\tnone\n");
}

TEST(CliAccount, RemovingAnAccountRemovesItsCacheFilesOnly) {
    CliRunner cli;
    for (const char* name : {"one", "two"}) {
        ASSERT_EQ(cli.Run({"account", "add", name, "--server", "s", "--login", "l"}).status, 0);
        // The cache files, and the temporaries a stopped run leaves.
        for (const char* ext : {".sid", ".kvt", ".eml", ".sid_", ".kvt_", ".eml_", ".lst_"}) {
            std::ofstream(cli.MailFolder() + "/" + name + ext) << "x";
        }
    }
    test::CliResult r = cli.Run({"account", "remove", "one"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* ext : {".sid", ".kvt", ".eml", ".sid_", ".kvt_", ".eml_", ".lst_"}) {
        EXPECT_FALSE(std::filesystem::exists(cli.MailFolder() + "/one" + ext)) << ext;
        EXPECT_TRUE(std::filesystem::exists(cli.MailFolder() + "/two" + ext)) << ext;
    }
    EXPECT_EQ(cli.Run({"account", "list"}).out, "two\ts\tl\tuser\tnone\n");
}

// The settings dialog of a window holds AccData.dat while it is open: an
// account added or removed meanwhile would be overwritten by its next save
// (the slot reused) or undone by its compaction when it closes.
TEST(CliAccount, AccountsAreLeftAloneWhileAnotherWriterHoldsThem) {
    CliRunner cli;
    ASSERT_EQ(cli.Run({"account", "add", "kept", "--server", "s", "--login", "l"}).status, 0);
    Profile profile(cli.ConfigDir() + "/Moorfield/Wrenpost.ini");
    const std::string busy = SystemText(IDS_ACCOUNTS_BUSY);
    {
        CAccountList dialog(false, cli.MailFolder(), profile);
        ASSERT_TRUE(dialog.Writable());
        struct Step {
            std::vector<std::string> args;
        } steps[] = {
            {{"account", "add", "new", "--server", "s", "--login", "l"}},
            {{"account", "remove", "kept"}},
        };
        for (const Step& step : steps) {
            SCOPED_TRACE(step.args[1]);
            test::CliResult r = cli.Run(step.args);
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(Contains(r.err, busy)) << r.err;
        }
        // Reading needs no lock.
        EXPECT_EQ(cli.Run({"account", "list"}).out, "kept\ts\tl\tuser\tnone\n");
    }
    EXPECT_EQ(cli.Run({"account", "add", "new", "--server", "s", "--login", "l"}).status, 0);
    EXPECT_EQ(cli.Run({"account", "list"}).out, "kept\ts\tl\tuser\tnone\nnew\ts\tl\tuser\tnone\n");
}

}  // namespace
}  // namespace wp
