// check and --check-every through the real program: new mail counted against
// Dovecot, accounts it does not check, the interval's bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounts/check_interval.h"
#include "cli_runner.h"
#include "platform/profile.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::CliRunner;

std::string Mail(const std::string& subject) {
    return "From: sender@example.jp\nSubject: " + subject +
           "\nDate: Mon, 7 Mar 2005 09:05:00 +0900\n\nbody\n";
}

class CliCheckDovecot : public test::DovecotMailboxTest {};

TEST_F(CliCheckDovecot, CheckPrintsNewAndTotalPerAccount) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {Mail("one")}));
    CliRunner cli;
    test::CliResult r = cli.Run({"account", "add", "受信箱", "--server", ServerText(), "--login",
                                 user_.name(), "--password", user_.password()});
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli.Run({"check", "受信箱"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "受信箱\t1\t1\n");

    ASSERT_TRUE(test::DeliverMail(user_.name(), {Mail("two"), Mail("three")}));
    // No name: every account with a saved password.
    r = cli.Run({"check"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "受信箱\t2\t3\n");
    r = cli.Run({"check", "受信箱"});
    EXPECT_EQ(r.out, "受信箱\t0\t3\n");
}

TEST_F(CliCheckDovecot, AnAccountThatCannotBeCheckedFailsWithoutStoppingTheOthers) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {Mail("one")}));
    CliRunner cli;
    ASSERT_EQ(cli.Run({"account", "add", "nopw", "--server", ServerText(), "--login", user_.name(),
                       "--no-save-password"})
                  .status,
              0);
    ASSERT_EQ(cli.Run({"account", "add", "wrong", "--server", ServerText(), "--login", user_.name(),
                       "--password", "not-it"})
                  .status,
              0);
    ASSERT_EQ(cli.Run({"account", "add", "good", "--server", ServerText(), "--login", user_.name(),
                       "--password", user_.password()})
                  .status,
              0);
    test::CliResult r = cli.Run({"check", "nopw", "wrong", "good"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "good\t1\t1\n") << "a failed account printed a count, or stopped the rest";
    EXPECT_NE(r.err.find("nopw"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("wrong"), std::string::npos) << r.err;
}

TEST(CliCheck, CheckEveryIsKeptInTheSettingsAndBounded) {
    CliRunner cli;
    ASSERT_EQ(cli.Run({"account", "add", "a", "--server", "pop.example.jp", "--login", "x", "--password", "y",
                       "--check-every", "5"})
                  .status,
              0);
    Profile profile(cli.ConfigDir() + "/Moorfield/Wrenpost.ini");
    EXPECT_EQ(CheckInterval(profile, "a"), 5);
    EXPECT_EQ(cli.Run({"account", "set", "a", "--check-every", "0"}).status, 0);
    EXPECT_EQ(CheckInterval(profile, "a"), 0);
    struct Case {
        const char* value;
        int status;
    } cases[] = {{"1440", 0}, {"1441", 64}, {"-1", 64}, {"", 64}, {"5m", 64}, {"99999999999", 64}};
    for (const Case& c : cases) {
        EXPECT_EQ(cli.Run({"account", "set", "a", "--check-every", c.value}).status, c.status) << c.value;
    }
    EXPECT_EQ(CheckInterval(profile, "a"), 1440) << "a refused value was stored";
    EXPECT_EQ(cli.Run({"account", "set", "missing", "--check-every", "3"}).status, 1);
    EXPECT_EQ(cli.Run({"account", "set", "a"}).status, 64);
    // Removing the account takes its interval with it.
    EXPECT_EQ(cli.Run({"account", "remove", "a"}).status, 0);
    EXPECT_EQ(CheckInterval(profile, "a"), 0);
}

TEST(CliCheck, AnUnknownAccountIsRefused) {
    CliRunner cli;
    EXPECT_EQ(cli.Run({"check", "nobody"}).status, 1);
}

}  // namespace
}  // namespace wp
