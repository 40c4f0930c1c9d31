// view through the real program against Dovecot: the text the viewer would
// show, with and without the header and in a chosen code, the attachment
// names, a mail gone from the server, and the arguments it refuses.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "platform/string_table.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::CliResult;
using test::CliRunner;
using test::SystemText;

const std::string kJisMail =
    "From: yamada@example.jp\n"
    "Subject: =?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\n"
    "\n"
    "--b1\nContent-Type: text/plain; charset=ISO-2022-JP\n\n\x1b$B$3$s$K$A$O\x1b(B\n.dot\n"
    "--b1\nContent-Disposition: attachment; filename=\"=?ISO-2022-JP?B?GyRCO3FOQRsoQi5wZGY=?=\"\n\nJVBERg==\n"
    "--b1--\n";

class CliViewDovecot : public test::DovecotMailboxTest {
protected:
    // The account "受信箱" for the leased user, listed once.
    void AddAndList(CliRunner& cli) {
        CliResult r = cli.Run({"account", "add", "受信箱", "--server", ServerText(), "--login", user_.name(),
                               "--password", user_.password()});
        ASSERT_EQ(r.status, 0) << r.err;
        r = cli.Run({"list", "受信箱"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
};

TEST_F(CliViewDovecot, PrintsWhatTheViewerShowsThenTheAttachmentNames) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: first\n\nplain body\n", kJisMail}));
    CliRunner cli;
    AddAndList(cli);

    CliResult r = cli.Run({"view", "受信箱", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The text part of the multipart mail, decoded; the attachment by name.
    EXPECT_EQ(r.out, "こんにちは\n.dot\n--\n資料.pdf\n");
    EXPECT_NE(r.err.find(SystemText(IDS_STATUS_MESSAGE_DONE)), std::string::npos) << r.err;

    // With the header, and with EUC chosen for this JIS mail.
    r = cli.Run({"view", "受信箱", "2", "--header"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("From: yamada@example.jp\nSubject: ", 0), 0u) << r.out;
    r = cli.Run({"view", "受信箱", "2", "--code", "euc"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" $B$3$s$K$A$O (B\n"), std::string::npos) << "escapes stay, printed as blanks";
    // The source of the decoded mail is made from the stored reply, as it came.
    r = cli.Run({"view", "受信箱", "2", "--source"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("--b1\nContent-Type: text/plain; charset=ISO-2022-JP\n\nこんにちは\n.dot\n--b1\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("filename=\"=?ISO-2022-JP?B?GyRCO3FOQRsoQi5wZGY=?=\"\n\nJVBERg==\n"), std::string::npos)
        << r.out;

    r = cli.Run({"view", "受信箱", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "plain body\n--\n");
    // The viewer is gone with the program, and so is the mail it stored.
    EXPECT_FALSE(std::filesystem::exists(cli.MailFolder() + "/受信箱.eml"));
}

TEST_F(CliViewDovecot, AMailNoLongerOnTheServerEndsWithThree) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: gone\n\nbody\n"}));
    CliRunner cli;
    AddAndList(cli);
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: another\n\nbody\n"}));
    CliResult r = cli.Run({"view", "受信箱", "1"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("ﾒｰﾙｻｰﾊﾞに見つかりません"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(SystemText(IDS_STATUS_MESSAGE_NOT_FOUND)), std::string::npos) << r.err;
}

TEST_F(CliViewDovecot, BadArgumentsAreRefusedWithSixtyFour) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: one\n\nbody\n"}));
    CliRunner cli;
    AddAndList(cli);
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"view", "受信箱", "2"}, "範囲外"},
        {{"view", "受信箱", "0"}, "INDEX"},
        {{"view", "受信箱", "abc"}, "INDEX"},
        {{"view", "受信箱", "-1"}, "-1"},
        {{"view", "受信箱", "1", "--code", "utf16"}, "--code"},
        {{"view", "受信箱"}, "引数"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        CliResult r = cli.Run(c.args);
        EXPECT_EQ(r.status, 64);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // An account without a cached list has no rows at all.
    CliResult r =
        cli.Run({"account", "add", "空", "--server", ServerText(), "--login", "x", "--password", "y"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = cli.Run({"view", "空", "1"});
    EXPECT_EQ(r.status, 64);
}

}  // namespace
}  // namespace wp
