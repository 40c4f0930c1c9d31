// delete through the real program: rows of `cached` deleted on Dovecot, a
// mail already gone, a DELE a scripted server refuses, and the arguments it
// refuses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_runner.h"
#include "mail/listing_rig.h"
#include "support/dovecot.h"
#include "support/scripted_peer.h"

namespace wp {
namespace {

using test::CliResult;
using test::CliRunner;

class CliDeleteDovecot : public test::DovecotMailboxTest {
protected:
    void AddAndList(CliRunner& cli) {
        CliResult r = cli.Run({"account", "add", "受信箱", "--server", ServerText(), "--login", user_.name(),
                               "--password", user_.password()});
        ASSERT_EQ(r.status, 0) << r.err;
        r = cli.Run({"list", "受信箱"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static std::vector<std::string> Mails(int count) {
        std::vector<std::string> mails;
        for (int i = 1; i <= count; ++i) {
            mails.push_back("Subject: mail " + std::to_string(i) + "\n\nbody\n");
        }
        return mails;
    }
};

TEST_F(CliDeleteDovecot, DeletesTheNamedRowsAndNothingElse) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), Mails(5)));
    CliRunner cli;
    AddAndList(cli);
    CliResult r = cli.Run({"delete", "受信箱", "3", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\tdeleted\n2\tdeleted\n");
    std::vector<std::string> left = test::MailboxMails(user_.name());
    ASSERT_EQ(left.size(), 3u);
    EXPECT_NE(left[0].find("mail 1"), std::string::npos);
    EXPECT_NE(left[1].find("mail 4"), std::string::npos);
    EXPECT_NE(left[2].find("mail 5"), std::string::npos);
    r = cli.Run({"cached", "受信箱"});
    EXPECT_EQ(r.out.find("mail 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("mail 4"), std::string::npos) << r.out;

    // Mails replaced meanwhile: the row's mail is not on the server, nothing is sent.
    ASSERT_TRUE(test::FillMailbox(user_.name(), Mails(2)));
    r = cli.Run({"delete", "受信箱", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1\tnot on server\n");
    EXPECT_EQ(test::MailboxCount(user_.name()), 2u);
}

TEST_F(CliDeleteDovecot, BadIndexesAreNamedAndRefusedWithSixtyFour) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), Mails(3)));
    CliRunner cli;
    AddAndList(cli);
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"delete", "受信箱", "2", "1", "2"}, "INDEX 2 "},
        {{"delete", "受信箱", "1", "7", "9"}, "INDEX 7 9 "},
        {{"delete", "受信箱", "0"}, "INDEX"},
        {{"delete", "受信箱"}, "引数"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        CliResult r = cli.Run(c.args);
        EXPECT_EQ(r.status, 64);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(test::MailboxCount(user_.name()), 3u);
}

TEST(CliDelete, ARefusedDeleIsReportedAndFailsTheRun) {
    const std::vector<test::ServerMail> mails = {test::Mail("u1", "one"), test::Mail("u2", "two")};
    test::ScriptedPeer peer;
    test::LoginSteps(peer);
    for (int i = 0; i < 4; ++i) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n");
    }
    test::ListingSteps(peer, mails);
    test::TopSteps(peer, mails, {1, 2});
    test::QuitSteps(peer);
    peer.Accept();
    test::LoginSteps(peer);
    for (int i = 0; i < 2; ++i) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n");
    }
    test::ListingSteps(peer, mails);
    peer.Expect("DELE 1\r\n").Send("-ERR in use\r\n").Expect("DELE 2\r\n").Send("+OK\r\n");
    test::QuitSteps(peer);
    peer.Start();

    CliRunner cli;
    const std::string server = "127.0.0.1:" + std::to_string(peer.port());
    CliResult r =
        cli.Run({"account", "add", "箱", "--server", server, "--login", "alice", "--password", "secret"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli.Run({"list", "箱"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli.Run({"delete", "箱", "1", "2"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "1\trefused\n2\tdeleted\n");
    EXPECT_NE(r.err.find("1件のﾒｯｾｰｼﾞを削除できませんでした。"), std::string::npos) << r.err;
    peer.Check();
}

}  // namespace
}  // namespace wp
