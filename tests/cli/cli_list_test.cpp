// list and cached through the real program: the engine's listing against
// Dovecot and against a scripted server, the cached rows, the exit statuses.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "platform/string_table.h"
#include "support/dovecot.h"
#include "support/scripted_peer.h"
#include "support/wait_for.h"

namespace wp {
namespace {

using test::CliRunner;
using test::Contains;
using test::SystemText;

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

class CliDovecot : public test::DovecotMailboxTest {
protected:
    std::string Server() const { return server_.host + ":" + std::to_string(server_.port); }
    // The account "受信箱" for the leased user, its password saved.
    void AddAccount(CliRunner& cli) {
        test::CliResult r = cli.Run({"account", "add", "受信箱", "--server", Server(), "--login",
                                     user_.name(), "--password", user_.password()});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::vector<std::string> ListingStatuses() const {
        return {SystemText(IDS_STATUS_CONNECTING, Server()),
                SystemText(IDS_STATUS_LOGGING_IN),
                SystemText(IDS_STATUS_SENDING_PASSWORD),
                SystemText(IDS_STATUS_LOGGED_IN),
                SystemText(IDS_STATUS_RECEIVING),
                SystemText(IDS_STATUS_LIST_DONE)};
    }
};

const std::string kPlainMail =
    "Return-Path: <yamada@example.jp>\n"
    "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <yamada@example.jp>\n"
    "To: suzuki@example.com\n"
    "Subject: =?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=\n"
    "Date: Mon, 7 Mar 2005 09:05:00 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: text/plain; charset=ISO-2022-JP\n"
    "\n"
    "\x1b$B$3$s$K$A$O\x1b(B\n";
const std::string kMultipartMail =
    "From: \"=?ISO-2022-JP?Q?=1B$B%F%9%H=1B(B?=\" <test@example.com>\n"
    "Subject: =?ISO-2022-JP?B?GyRCO3FOQRsoQg==?=\n"
    "Date: Tue, 15 Feb 2011 23:59:59 +0000\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\n"
    "\n"
    "--b1\nContent-Type: text/plain; charset=ISO-2022-JP\n\nbody\n"
    "--b1\nContent-Type: application/pdf\nContent-Disposition: attachment; filename=\"a.pdf\"\n\nJVBERg==\n"
    "--b1--\n";

TEST_F(CliDovecot, ListTwiceThenCachedShowTheSameRows) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {kPlainMail, kMultipartMail}));
    CliRunner cli;
    AddAccount(cli);
    const std::string rows = Lines({
        "2\t0\t 山田太郎 <yamada@example.jp>\t会議の件\t2005/03/07 09:05:00 \t" +
            std::to_string(test::ToCrlf(kPlainMail).size()),
        "2\t1\t \"テスト\" <test@example.com>\t資料\t2011/02/15 23:59:59 (+0000)\t" +
            std::to_string(test::ToCrlf(kMultipartMail).size()),
    });

    // The first listing has no cache to show and fetches every header.
    test::CliResult first = cli.Run({"list", "受信箱"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, rows);
    EXPECT_EQ(first.err, Lines(ListingStatuses()));
    EXPECT_TRUE(std::filesystem::exists(cli.MailFolder() + "/受信箱.sid"));
    EXPECT_TRUE(std::filesystem::exists(cli.MailFolder() + "/受信箱.kvt"));

    // The second shows the cached rows first, then brings them up to date.
    test::CliResult second = cli.Run({"list", "受信箱"});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out, rows);
    std::vector<std::string> statuses = {SystemText(IDS_STATUS_CACHE_LOADING),
                                         SystemText(IDS_STATUS_CACHE_SHOWN)};
    for (const std::string& s : ListingStatuses()) {
        statuses.push_back(s);
    }
    EXPECT_EQ(second.err, Lines(statuses));

    test::CliResult cached = cli.Run({"cached", "受信箱"});
    EXPECT_EQ(cached.status, 0);
    EXPECT_EQ(cached.out, rows);

    // A mail gone from the server goes from the list; an empty mailbox is a
    // listing too.
    ASSERT_TRUE(test::FillMailbox(user_.name(), {kMultipartMail}));
    test::CliResult shorter = cli.Run({"list", "受信箱"});
    EXPECT_EQ(shorter.status, 0);
    EXPECT_EQ(shorter.out,
              Lines({"2\t1\t \"テスト\" <test@example.com>\t資料\t2011/02/15 23:59:59 (+0000)\t" +
                     std::to_string(test::ToCrlf(kMultipartMail).size())}));
    ASSERT_TRUE(test::FillMailbox(user_.name(), {}));
    test::CliResult empty = cli.Run({"list", "受信箱"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
    EXPECT_TRUE(EndsWith(empty.err, SystemText(IDS_STATUS_NO_MESSAGES) + "\n")) << empty.err;
    EXPECT_EQ(cli.Run({"cached", "受信箱"}).out, "");
}

TEST_F(CliDovecot, ARefusedPasswordFailsAndLeavesTheCachedRows) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {kPlainMail}));
    CliRunner cli;
    AddAccount(cli);
    test::CliResult good = cli.Run({"list", "受信箱"});
    ASSERT_EQ(good.status, 0) << good.err;

    test::CliResult bad = cli.Run({"list", "受信箱", "--password", "wrong"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, good.out) << "the cached rows stay";
    EXPECT_TRUE(EndsWith(bad.err, SystemText(IDS_LOGIN_REFUSED) + "\n")) << bad.err;
    EXPECT_FALSE(Contains(bad.err, SystemText(IDS_STATUS_LOGGED_IN))) << bad.err;
}

// A scripted server, to see exactly what goes over the wire.
std::string PeerServer(const test::ScriptedPeer& peer) {
    return std::string(test::ScriptedPeer::host()) + ":" + std::to_string(peer.port());
}

void ScriptLogin(test::ScriptedPeer& peer) {
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
    // The frame's liveness checks and the listing's own.
    for (int i = 0; i < 5; ++i) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n");
    }
    peer.Expect("STAT\r\n").Send("+OK 1 100\r\n");
    peer.Expect("LIST\r\n").Send("+OK\r\n1 100\r\n.\r\n");
    peer.Expect("UIDL\r\n").Send("+OK\r\n1 abc\r\n.\r\n");
}

TEST(CliList, TheSecondListingFetchesNoHeaderItHasCached) {
    test::ScriptedPeer peer;
    ScriptLogin(peer);
    peer.Expect("TOP 1 0\r\n")
        .Send(
            "+OK\r\nFrom: a@example.jp\r\nSubject: hello\r\nDate: Mon, 7 Mar 2005 09:05:00 "
            "+0900\r\n\r\n.\r\n");
    peer.Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Accept();
    ScriptLogin(peer);
    peer.Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();

    CliRunner cli;
    ASSERT_EQ(cli.Run({"account", "add", "acc", "--server", PeerServer(peer), "--login", "alice",
                       "--password", "secret"})
                  .status,
              0);
    const std::string row = "2\t0\t a@example.jp\thello\t2005/03/07 09:05:00 \t100\n";
    test::CliResult first = cli.Run({"list", "acc"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, row);
    test::CliResult second = cli.Run({"list", "acc"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, row);
    peer.Check();
    EXPECT_TRUE(Contains(peer.Received(0), "TOP 1 0\r\n"));
    EXPECT_FALSE(Contains(peer.Received(1), "TOP")) << peer.Received(1);
}

TEST(CliList, ListingStatusesGiveTheExitStatus) {
    // A server that fails the listing part-way (a TOP refused) and one that
    // refuses STAT.
    struct Case {
        const char* what;
        std::string stat;
        std::string top;  // empty: no TOP is sent
        int status;
        int lastStatus;
    } cases[] = {
        {"TOP refused", "+OK 1 100\r\n", "-ERR no such message\r\n", 2, IDS_STATUS_LIST_PARTIAL},
        {"STAT refused", "-ERR mailbox locked\r\n", "", 1, IDS_STATUS_RECEIVE_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::ScriptedPeer peer;
        peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
        for (int i = 0; i < 5; ++i) {
            peer.Expect("NOOP\r\n").Send("+OK\r\n");
        }
        peer.Expect("STAT\r\n").Send(c.stat);
        if (!c.top.empty()) {
            peer.Expect("LIST\r\n").Send("+OK\r\n1 100\r\n.\r\n");
            peer.Expect("UIDL\r\n").Send("+OK\r\n1 abc\r\n.\r\n");
            peer.Expect("TOP 1 0\r\n").Send(c.top);
        }
        peer.Expect("QUIT\r\n").Send("+OK\r\n");
        peer.Start();
        CliRunner cli;
        ASSERT_EQ(cli.Run({"account", "add", "acc", "--server", PeerServer(peer), "--login", "alice",
                           "--password", "secret"})
                      .status,
                  0);
        test::CliResult r = cli.Run({"list", "acc"});
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(EndsWith(r.err, SystemText(c.lastStatus) + "\n")) << r.err;
        peer.Check();
    }
}

// A LIST that never ends: the listing fails at once (more lines than STAT
// counted) and the cache of the last listing stays; one that trickles is
// stopped by an interrupt.
TEST(CliList, AnEndlessListEndsAndKeepsTheCache) {
    auto endlessList = [](test::ScriptedPeer& peer, std::string unit, std::chrono::milliseconds gap) {
        peer.Accept();
        peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
        for (int i = 0; i < 5; ++i) {
            peer.Expect("NOOP\r\n").Send("+OK\r\n");
        }
        peer.Expect("STAT\r\n").Send("+OK 1 100\r\n");
        peer.Expect("LIST\r\n").Send("+OK\r\n").Stream(std::move(unit), gap);
    };
    test::ScriptedPeer peer;
    ScriptLogin(peer);
    peer.Expect("TOP 1 0\r\n").Send("+OK\r\nFrom: a@example.jp\r\nSubject: hello\r\n\r\n.\r\n");
    peer.Expect("QUIT\r\n").Send("+OK\r\n");
    endlessList(peer, "1 100\r\n", std::chrono::milliseconds(0));
    endlessList(peer, "1", std::chrono::milliseconds(100));
    peer.Start();

    CliRunner cli;
    ASSERT_EQ(cli.Run({"account", "add", "acc", "--server", PeerServer(peer), "--login", "alice",
                       "--password", "secret"})
                  .status,
              0);
    test::CliResult first = cli.Run({"list", "acc"});
    ASSERT_EQ(first.status, 0) << first.err;
    test::CliResult flooded = cli.Run({"list", "acc"});
    EXPECT_EQ(flooded.status, 1) << flooded.err;
    EXPECT_TRUE(EndsWith(flooded.err, SystemText(IDS_STATUS_RECEIVE_FAILED) + "\n")) << flooded.err;
    EXPECT_EQ(cli.Run({"cached", "acc"}).out, first.out);

    auto process = cli.Start({"list", "acc"});
    ASSERT_TRUE(test::PumpUntil([&] { return peer.connections() == 3 && Contains(peer.Received(2), "LIST\r\n"); },
                                std::chrono::seconds(60)));
    ASSERT_EQ(::kill(static_cast<pid_t>(process->processId()), SIGINT), 0);
    test::CliResult stopped = CliRunner::Finish(*process);
    EXPECT_EQ(stopped.status, 2) << stopped.err;
    EXPECT_EQ(cli.Run({"cached", "acc"}).out, first.out);
    peer.Stop();
    peer.TakeFailures();
}

TEST(CliList, AnInterruptStopsTheLoginAndExitsWithStatus2) {
    test::ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Silence();
    peer.Start();
    CliRunner cli;
    ASSERT_EQ(cli.Run({"account", "add", "acc", "--server", PeerServer(peer), "--login", "alice",
                       "--password", "secret"})
                  .status,
              0);
    auto process = cli.Start({"list", "acc"});
    ASSERT_TRUE(test::PumpUntil([&] { return Contains(peer.Received(0), "USER alice\r\n"); },
                                std::chrono::seconds(60)));
    ASSERT_EQ(::kill(static_cast<pid_t>(process->processId()), SIGINT), 0);
    test::CliResult r = CliRunner::Finish(*process);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(EndsWith(r.err, SystemText(IDS_STATUS_CANCELLED) + "\n")) << r.err;
    peer.Stop();
    peer.TakeFailures();
}

}  // namespace
}  // namespace wp
