// Two programs on one data folder: a wrenpost-cli listing held up by a slow
// server while something else writes the same account's files.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "mail/listing_rig.h"
#include "platform/string_table.h"
#include "support/scripted_peer.h"
#include "support/wait_for.h"

namespace wp {
namespace {

using test::CliRunner;
using test::Contains;
using test::Mail;
using test::ScriptedPeer;
using test::ServerMail;
using test::SystemText;

using Mails = std::vector<ServerMail>;

const Mails kThree = {Mail("uid-1", "one"), Mail("uid-2", "two"), Mail("uid-3", "three")};

std::string PeerServer(const ScriptedPeer& peer) {
    return std::string(ScriptedPeer::host()) + ":" + std::to_string(peer.port());
}

// What wrenpost-cli sends for a listing, after the greeting: the login, the
// frame's and the listing's NOOPs, then STAT, LIST, UIDL and these TOPs.
ScriptedPeer& CliListing(ScriptedPeer& peer, const Mails& mails, const std::vector<int>& tops) {
    peer.Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
    for (int i = 0; i < 5; ++i) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n");
    }
    peer.Expect("STAT\r\n").Send(test::StatReply(mails));
    peer.Expect("LIST\r\n").Send(test::ListReply(mails));
    peer.Expect("UIDL\r\n").Send(test::UidlReply(mails));
    test::TopSteps(peer, mails, tops);
    return peer;
}

// The row wrenpost-cli prints for a mail of this list (sender, subject, date,
// size as the server listed it).
std::string Row(const ServerMail& mail, const std::string& subject) {
    return "2\t0\t a@example.jp\t" + subject + "\t2005/03/07 09:05:00 \t" + std::to_string(mail.ListSize()) +
           "\n";
}

void AddAccount(CliRunner& cli, const std::string& server) {
    test::CliResult r =
        cli.Run({"account", "add", "acct", "--server", server, "--login", "alice", "--password", "secret"});
    ASSERT_EQ(r.status, 0) << r.err;
}

// The listing takes the entries loaded at its start (S1, S2, S3) for what
// the index file holds when it runs; meanwhile another writer listed the
// account after S1 was deleted, so the file holds S2, S3 at positions 1, 2.
TEST(CliTwoProcesses, AListingAfterAnotherProcessRewroteTheCacheShowsEveryMailAsItself) {
    const Mails later(kThree.begin() + 1, kThree.end());
    ScriptedPeer peer;
    peer.Greet();
    CliListing(peer, kThree, {1, 2, 3}).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Accept().Hold().Greet();  // the second run waits for its greeting
    CliListing(peer, later, {}).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();

    CliRunner cli;
    AddAccount(cli, PeerServer(peer));
    ASSERT_EQ(cli.Run({"list", "acct"}).status, 0);

    auto slow = cli.Start({"list", "acct"});
    ASSERT_TRUE(test::PumpUntil([&] { return peer.connections() == 2; }, std::chrono::seconds(60)));
    {
        // Another window lists the same account meanwhile.
        test::ListingRig other("acct", cli.MailFolder());
        ScriptedPeer otherPeer;
        test::LoginSteps(otherPeer);
        test::ListingSteps(otherPeer, later);
        test::TopSteps(otherPeer, later, {1, 2});
        test::QuitSteps(otherPeer);
        ASSERT_EQ(other.ListAgainst(otherPeer), 2);
    }
    peer.Release();
    test::CliResult r = CliRunner::Finish(*slow);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Row(kThree[1], "two") + Row(kThree[2], "three"));
    peer.Check();
    EXPECT_EQ(cli.Run({"cached", "acct"}).out, r.out);
}

// A read-only run opening the account while a listing writes its
// temporaries used to take them for a half-finished replace and remove
// them; the listing then said "completed" and left no cache at all.
TEST(CliTwoProcesses, AReaderDuringAListingLeavesItsFilesAlone) {
    ScriptedPeer peer;
    peer.Greet();
    CliListing(peer, kThree, {1}).Expect("TOP 2 0\r\n").Hold().Send(kThree[1].Top());
    test::TopSteps(peer, kThree, {3}).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();

    CliRunner cli;
    AddAccount(cli, PeerServer(peer));
    auto listing = cli.Start({"list", "acct"});
    const std::string stem = cli.MailFolder() + "/acct";
    ASSERT_TRUE(
        test::PumpUntil([&] { return Contains(peer.Received(0), "TOP 2 0\r\n"); }, std::chrono::seconds(60)));
    test::CliResult cached = cli.Run({"cached", "acct"});
    EXPECT_EQ(cached.status, 0) << cached.err;
    EXPECT_TRUE(std::filesystem::exists(stem + ".sid_"));
    EXPECT_TRUE(std::filesystem::exists(stem + ".kvt_"));
    peer.Release();

    test::CliResult r = CliRunner::Finish(*listing);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, SystemText(IDS_STATUS_LIST_DONE))) << r.err;
    EXPECT_TRUE(std::filesystem::exists(stem + ".sid"));
    EXPECT_TRUE(std::filesystem::exists(stem + ".kvt"));
    EXPECT_EQ(cli.Run({"cached", "acct"}).out, r.out);
    peer.Check();
}

// The account is removed, and a new one of the same name made for another
// server, while its listing waits for the server: the listing must not leave
// the deleted account's mails for the new one.
TEST(CliTwoProcesses, AListingWhoseAccountWasRemovedMeanwhileKeepsNothing) {
    ScriptedPeer peer;
    peer.Greet();
    CliListing(peer, kThree, {1, 2, 3}).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Accept().Hold().Greet();
    CliListing(peer, kThree, {1, 2, 3}).Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();

    CliRunner cli;
    AddAccount(cli, PeerServer(peer));
    ASSERT_EQ(cli.Run({"list", "acct"}).status, 0);
    auto slow = cli.Start({"list", "acct"});
    ASSERT_TRUE(test::PumpUntil([&] { return peer.connections() == 2; }, std::chrono::seconds(60)));
    EXPECT_EQ(cli.Run({"account", "remove", "acct"}).status, 0);
    EXPECT_EQ(cli.Run({"account", "add", "acct", "--server", "pop.elsewhere.example", "--login", "bob",
                       "--password", "other"})
                  .status,
              0);
    peer.Release();

    test::CliResult r = CliRunner::Finish(*slow);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, SystemText(IDS_ACCOUNT_GONE))) << r.err;
    for (const char* ext : {".sid", ".kvt", ".eml", ".sid_", ".kvt_", ".lst_"}) {
        EXPECT_FALSE(std::filesystem::exists(cli.MailFolder() + "/acct" + ext)) << ext;
    }
    EXPECT_EQ(cli.Run({"cached", "acct"}).out, "") << "the new account shows nothing of the old";
    peer.Check();
}

}  // namespace
}  // namespace wp
