// The fetch for viewing against a scripted server: the mail found by its
// unique id under its current number, a mail gone from the server, failures
// at every command, the live text, the stop in mid-reply, and the files it
// leaves (the message file) and does not leave (every temporary).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fetch_rig.h"
#include "platform/strings.h"

namespace wp {
namespace {

using test::FilesIn;
using test::ListingRig;
using test::Mail;
using test::PrivateTmp;
using test::RecordingFetchViewer;
using test::RetrReply;
using test::ScriptedPeer;
using test::ServerMail;
using test::Slurp;
using test::Spit;

using Mails = std::vector<ServerMail>;

const std::string kJisMail =
    "Subject: =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
    "\r\n"
    "--b\r\n\r\n\x1b$BF|K\\\x1b(B\r\n"
    "..a stuffed line\r\n"
    "--b\r\nContent-Disposition: attachment; filename=\"a.txt\"\r\n\r\nA\r\n--b--\r\n";

struct FetchRun {
    int result = 0;
    RecordingFetchViewer viewer;
};

// Logs in at the peer, fetches the entry with this id, quits; `retr` adds
// what the script does after UIDL.
// entryUid: the id the entry was made with, when the index no longer holds it.
FetchRun Fetch(ListingRig& rig, const Mails& server, std::uint32_t id,
               const std::function<void(ScriptedPeer&)>& retr, std::int32_t code = -1, bool quit = true,
               const char* entryUid = nullptr) {
    ScriptedPeer peer;
    test::LoginSteps(peer);
    test::ListingSteps(peer, server);
    retr(peer);
    if (quit) {
        test::QuitSteps(peer);
    }
    peer.Start();
    FetchRun run;
    EXPECT_TRUE(rig.Login(peer));
    OperationContext ctx = rig.Context();
    MailEntry entry = test::EntryWithId(id, *rig.mailbox);
    if (entryUid != nullptr) {
        entry.uid = entryUid;
    }
    run.result = RunFetchForView(*rig.mailbox, ctx, entry, run.viewer, [code] { return code; });
    rig.session.Quit(quit);
    peer.Check();
    return run;
}

TEST(FetchForView, ARenumberedMailIsFetchedUnderItsCurrentNumberAndShown) {
    PrivateTmp tmp;
    ListingRig rig;
    test::WriteCache(*rig.mailbox, {"uid-a", "uid-b", "uid-c"});
    // Mail a went meanwhile: c is number 2 now.
    const Mails server = {Mail("uid-b", "b"), Mail("uid-c", "c")};
    const std::string reply = RetrReply(kJisMail);
    FetchRun run = Fetch(rig, server, 3, [&](ScriptedPeer& p) { p.Expect("RETR 2\r\n").Send(reply); });

    EXPECT_EQ(run.result, 0);
    // The raw reply is the message file, named as the viewer's.
    ASSERT_EQ(run.viewer.mailFiles.size(), 2u);
    EXPECT_TRUE(run.viewer.mailFiles[0].Empty()) << "emptied first";
    EXPECT_EQ(run.viewer.mailFiles[1].Path(), rig.mailbox->emlPath);
    EXPECT_EQ(Slurp(rig.mailbox->emlPath), reply);
    // The MIME reading, the framing undone; the source is left to be made
    // from the stored mail, converted with the framing undone.
    ASSERT_TRUE(run.viewer.shown);
    ASSERT_TRUE(run.viewer.shownView.decoded);
    EXPECT_EQ(run.viewer.shownView.body, "日本\r\n.a stuffed line");
    EXPECT_EQ(*run.viewer.shown, "") << "no second conversion of the whole mail";
    MailTextParts parts = SplitMailText(MailTextToShow(*run.viewer.mailFiles[1].Read(), -1), false);
    EXPECT_EQ(Cp932ToUtf8(parts.body),
              "--b\r\n\r\n日本\r\n.a stuffed line\r\n"
              "--b\r\nContent-Disposition: attachment; filename=\"a.txt\"\r\n\r\nA\r\n--b--\r\n");
    EXPECT_EQ(run.viewer.attachments, std::vector<std::string>{"a.txt"});
    EXPECT_EQ(run.viewer.cursor, (std::vector<bool>{true, false}));
    EXPECT_EQ(run.viewer.live, reply);
    EXPECT_TRUE(run.viewer.statuses.empty());
    // The listing's files are as they were, and no temporary is anywhere.
    EXPECT_EQ(test::ReadIndex(rig.mailbox->sidPath).size(), 3u);
    EXPECT_EQ(FilesIn(rig.folder.path()),
              (std::vector<std::string>{"alice@example.eml", "alice@example.kvt", "alice@example.sid"}));
    EXPECT_TRUE(tmp.Left().empty()) << testing::PrintToString(tmp.Left());
}

TEST(FetchForView, AMailGoneFromTheServerIsReportedAndNothingIsFetched) {
    const struct {
        const char* what;
        Mails server;
        std::vector<std::string> cache;
        std::uint32_t id;
        const char* entryUid = nullptr;
    } cases[] = {
        {"deleted by another client",
         {Mail("uid-a", "a"), Mail("uid-b", "b")},
         {"uid-a", "uid-b", "uid-c"},
         3},
        {"the mailbox is empty now", {}, {"uid-a"}, 1},
        {"a server without unique ids", {Mail("*", "a")}, {"*"}, 1},
        {"no record for the entry", {Mail("uid-a", "a")}, {"uid-a"}, 2},
        {"no index file at all", {Mail("uid-a", "a")}, {}, 1},
        // Another process listed the account since the row was made: record 1
        // is mail a's now, which must not be fetched in place of mail x.
        {"the record at its position is another mail's", {Mail("uid-a", "a")}, {"uid-a"}, 1, "uid-x"},
        {"an id cut to fit its record", {Mail(std::string(80, 'k'), "a")}, {std::string(80, 'k')}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PrivateTmp tmp;
        ListingRig rig;
        if (!c.cache.empty()) {
            test::WriteCache(*rig.mailbox, c.cache);
        }
        Spit(rig.mailbox->emlPath, "the mail shown before");
        // No RETR: the script would report it.
        FetchRun run = Fetch(
            rig, c.server, c.id, [](ScriptedPeer&) {}, -1, true, c.entryUid);
        EXPECT_EQ(run.result, -2);
        EXPECT_EQ(run.viewer.statuses, std::vector<std::string>{"ﾒｰﾙｻｰﾊﾞに見つかりません"});
        EXPECT_FALSE(run.viewer.shown);
        EXPECT_EQ(Slurp(rig.mailbox->emlPath), "the mail shown before");
        EXPECT_TRUE(tmp.Left().empty());
    }
}

TEST(FetchForView, AFailedCommandGivesMinusOneAndShowsNothing) {
    const Mails server = {Mail("uid-a", "a")};
    const std::string status = test::StatReply(server);
    const struct {
        const char* what;
        std::function<void(ScriptedPeer&)> script;
    } cases[] = {
        {"NOOP refused", [](ScriptedPeer& p) { p.Expect("NOOP\r\n").Send("-ERR\r\n"); }},
        {"STAT refused",
         [](ScriptedPeer& p) { p.Expect("NOOP\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send("-ERR\r\n"); }},
        {"STAT without a count",
         [](ScriptedPeer& p) { p.Expect("NOOP\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send("+OK\r\n"); }},
        {"LIST refused",
         [&](ScriptedPeer& p) {
             p.Expect("NOOP\r\n")
                 .Send("+OK\r\n")
                 .Expect("STAT\r\n")
                 .Send(status)
                 .Expect("LIST\r\n")
                 .Send("-ERR\r\n");
         }},
        {"UIDL refused",
         [&](ScriptedPeer& p) {
             p.Expect("NOOP\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send(status).Expect("LIST\r\n");
             p.Send(test::ListReply(server)).Expect("UIDL\r\n").Send("-ERR not here\r\n");
         }},
        {"RETR refused",
         [&](ScriptedPeer& p) {
             test::ListingSteps(p, server);
             p.Expect("RETR 1\r\n").Send("-ERR gone\r\n");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PrivateTmp tmp;
        ListingRig rig;
        test::WriteCache(*rig.mailbox, {"uid-a"});
        Spit(rig.mailbox->emlPath, "the mail shown before");
        ScriptedPeer peer;
        test::LoginSteps(peer);
        c.script(peer);
        test::QuitSteps(peer);
        peer.Start();
        ASSERT_TRUE(rig.Login(peer));
        OperationContext ctx = rig.Context();
        RecordingFetchViewer viewer;
        EXPECT_EQ(RunFetchForView(*rig.mailbox, ctx, test::EntryWithId(1, *rig.mailbox), viewer, {}), -1);
        rig.session.Quit(true);
        peer.Check();
        EXPECT_FALSE(viewer.shown);
        EXPECT_TRUE(viewer.attachments.empty());
        EXPECT_EQ(Slurp(rig.mailbox->emlPath), "the mail shown before");
        EXPECT_EQ(FilesIn(rig.folder.path()),
                  (std::vector<std::string>{"alice@example.eml", "alice@example.kvt", "alice@example.sid"}));
        EXPECT_TRUE(tmp.Left().empty());
    }
}

// A reply cut off by the server, and one the user stops after its first
// piece: nothing is stored or shown, and what arrived stays on screen.
TEST(FetchForView, AReceiveCutShortOrStoppedStoresNothing) {
    const Mails server = {Mail("uid-a", "a")};
    const std::string reply = RetrReply(kJisMail + std::string(20000, 'x') + "\r\n");
    for (bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped by the user" : "closed by the server");
        PrivateTmp tmp;
        ListingRig rig;
        test::WriteCache(*rig.mailbox, {"uid-a"});
        ScriptedPeer peer;
        test::LoginSteps(peer);
        test::ListingSteps(peer, server);
        peer.Expect("RETR 1\r\n");
        if (stopped) {
            peer.Send(reply.substr(0, 4000)).Silence();
        } else {
            peer.Send(reply.substr(0, 9000), test::Pieces::Every(3000)).Close();
        }
        peer.Start();
        ASSERT_TRUE(rig.Login(peer));
        OperationContext ctx = rig.Context();
        RecordingFetchViewer viewer;
        if (stopped) {
            viewer.onLive = [&] { rig.session.cancel = 1; };
        }
        EXPECT_EQ(RunFetchForView(*rig.mailbox, ctx, test::EntryWithId(1, *rig.mailbox), viewer, {}), -1);
        rig.session.Quit(false);
        peer.Stop();
        EXPECT_FALSE(viewer.shown);
        EXPECT_FALSE(test::Exists(rig.mailbox->emlPath));
        EXPECT_FALSE(viewer.live.empty());
        EXPECT_EQ(viewer.live, reply.substr(0, viewer.live.size()));
        EXPECT_TRUE(tmp.Left().empty());
        peer.TakeFailures();
    }
}

// A reply read in hundreds of pieces reaches the viewer whole, in order,
// with the byte count growing to the reply's size.
TEST(FetchForView, TheLiveTextArrivesWholeInBatches) {
    ListingRig rig;
    test::WriteCache(*rig.mailbox, {"uid-a"});
    std::string body;
    for (int i = 0; i < 4000; ++i) {
        body += "line " + std::to_string(i) + " of a long mail\r\n";
    }
    const std::string reply = RetrReply("Subject: long\r\n\r\n" + body);
    FetchRun run = Fetch(rig, {Mail("uid-a", "a")}, 1, [&](ScriptedPeer& p) {
        p.Expect("RETR 1\r\n").Send(reply, test::Pieces::Every(500));
    });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.viewer.liveClears, 1);
    EXPECT_EQ(run.viewer.live, reply);
    ASSERT_FALSE(run.viewer.received.empty());
    EXPECT_TRUE(std::is_sorted(run.viewer.received.begin(), run.viewer.received.end()));
    EXPECT_EQ(run.viewer.received.back(), static_cast<int>(reply.size()));
    EXPECT_EQ(SplitMailText(*run.viewer.shown, false).body, body);
}

// The code comes from the caller once the mail is in; EUC chosen for a JIS
// mail leaves it unconverted.
TEST(FetchForView, TheChosenCodeConvertsTheMail) {
    ListingRig rig;
    test::WriteCache(*rig.mailbox, {"uid-a"});
    const std::string reply = RetrReply("Subject: x\r\n\r\n\x1b$BF|K\\\x1b(B\r\n");
    FetchRun run = Fetch(
        rig, {Mail("uid-a", "a")}, 1, [&](ScriptedPeer& p) { p.Expect("RETR 1\r\n").Send(reply); }, 2);
    ASSERT_TRUE(run.viewer.shown);
    EXPECT_EQ(SplitMailText(*run.viewer.shown, false).body, "\x1b$BF|K\\\x1b(B\r\n");
}

// A half-finished replace of another window's listing (a lone new header
// file) is that listing's to finish: the fetch neither deletes nor makes
// any of the account's temporaries.
TEST(FetchForView, TheAccountsTemporariesAreLeftAlone) {
    ListingRig rig;
    test::WriteCache(*rig.mailbox, {"uid-a"});
    Spit(rig.mailbox->NewHeaderPath(), "another listing's new header file");
    FetchRun run = Fetch(rig, {Mail("uid-a", "a")}, 1, [&](ScriptedPeer& p) {
        p.Expect("RETR 1\r\n").Send(RetrReply("Subject: x\r\n\r\nbody\r\n"));
    });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(Slurp(rig.mailbox->NewHeaderPath()), "another listing's new header file");
    EXPECT_EQ(FilesIn(rig.folder.path()),
              (std::vector<std::string>{"alice@example.eml", "alice@example.kvt", "alice@example.kvt_",
                                        "alice@example.sid"}));
}

}  // namespace
}  // namespace wp
