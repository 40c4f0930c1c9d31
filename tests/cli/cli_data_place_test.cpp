// Where wrenpost-cli finds the accounts when no --data-dir names a folder:
// the same place as the window, so that a user's terminal and desktop agree.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_runner.h"

namespace wp {
namespace {

namespace fs = std::filesystem;
using test::CliRunner;
using test::Contains;

const std::vector<std::string> kAdd = {"account",        "add",     "home", "--server",
                                       "pop.example.jp", "--login", "kana"};

TEST(CliDataPlace, AccountsGoWhereTheWindowKeepsThem) {
    enum Where { Home, Elsewhere };
    struct Case {
        const char* what;
        std::vector<std::string> options;
        Where cwd;
        bool ownDataHome;
        const char* folder;  // where AccData.dat belongs, under the runner's folder
    } cases[] = {
        {"in the home folder", {}, Home, false, "home/.local/share/wrenpost"},
        {"in the home folder, own data home", {}, Home, true, "data-home/wrenpost"},
        {"--user-data elsewhere", {"--user-data"}, Elsewhere, false, "home/.local/share/wrenpost"},
        {"elsewhere", {}, Elsewhere, false, "elsewhere"},
        {"--data-dir in the home folder", {"--data-dir", "chosen"}, Home, false, "home/chosen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CliRunner cli;
        fs::create_directories(cli.File("home"));
        fs::create_directories(cli.File("elsewhere"));
        cli.environment = {{"HOME", cli.File("home")}};
        if (c.ownDataHome) {
            cli.environment.emplace_back("XDG_DATA_HOME", cli.File("data-home"));
        }
        const std::string cwd = cli.File(c.cwd == Home ? "home" : "elsewhere");
        std::vector<std::string> args = c.options;
        args.insert(args.end(), kAdd.begin(), kAdd.end());
        test::CliResult added = cli.Run(args, false, cwd);
        ASSERT_EQ(added.status, 0) << added.err;
        const std::string expected = cli.File(c.folder);
        EXPECT_TRUE(fs::is_regular_file(expected + "/AccData.dat"));
        EXPECT_TRUE(fs::is_directory(expected + "/Mail"));
        for (const char* other : {"home", "elsewhere"}) {
            if (cli.File(other) != expected) {
                EXPECT_FALSE(fs::exists(cli.File(other) + "/AccData.dat")) << other;
                EXPECT_FALSE(fs::exists(cli.File(other) + "/Mail")) << other;
            }
        }
        // Run the same way again, the account is there.
        args = c.options;
        args.insert(args.end(), {"account", "list"});
        test::CliResult listed = cli.Run(args, false, cwd);
        EXPECT_EQ(listed.status, 0) << listed.err;
        EXPECT_EQ(listed.out, "home\tpop.example.jp\tkana\tuser\tnone\n");
    }
}

// The window started from the desktop and a terminal in the home folder see
// one set of accounts; a terminal elsewhere reaches it with --user-data.
TEST(CliDataPlace, HomeFolderAndUserDataAgree) {
    CliRunner cli;
    fs::create_directories(cli.File("home"));
    fs::create_directories(cli.File("elsewhere"));
    cli.environment = {{"HOME", cli.File("home")}};
    ASSERT_EQ(cli.Run(kAdd, false, cli.File("home")).status, 0);
    test::CliResult listed = cli.Run({"--user-data", "account", "list"}, false, cli.File("elsewhere"));
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "home\tpop.example.jp\tkana\tuser\tnone\n");
}

TEST(CliDataPlace, CommandsWithoutAccountsMakeNoFolder) {
    CliRunner cli;
    fs::create_directories(cli.File("home"));
    cli.environment = {{"HOME", cli.File("home")}};
    std::ofstream(cli.File("home/mail.eml")) << "Subject: test\r\n\r\nbody\r\n";
    test::CliResult converted = cli.Run({"convert", "mail.eml"}, false, cli.File("home"));
    EXPECT_EQ(converted.status, 0) << converted.err;
    EXPECT_FALSE(fs::exists(cli.File("home/.local")));
    EXPECT_FALSE(fs::exists(cli.File("home/Mail")));
}

TEST(CliDataPlace, RefusesTwoPlacesAtOnce) {
    CliRunner cli;
    test::CliResult r = cli.Run({"--user-data", "--data-dir", cli.File("data"), "account", "list"}, false);
    EXPECT_EQ(r.status, 64);
    EXPECT_TRUE(Contains(r.err, "--data-dir と --user-data")) << r.err;
    EXPECT_FALSE(fs::exists(cli.File("data")));
}

}  // namespace
}  // namespace wp
