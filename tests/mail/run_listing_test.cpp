// The server listing against a scripted server: the command order, the exact
// bytes of the files, the reuse of cached headers and rows, interruptions,
// and servers that misbehave.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "listing_rig.h"
#include "mail/entry_record.h"

namespace wp {
namespace {

using test::ConsistentPair;
using test::Exists;
using test::IndexBytes;
using test::ListingRig;
using test::Mail;
using test::ReadIndex;
using test::Record;
using test::ScriptedPeer;
using test::ServerMail;
using test::Slurp;
using test::Spit;

using Mails = std::vector<ServerMail>;

// One listing of `mails` with TOP for `tops`, from login to QUIT.
int ListOnce(ListingRig& rig, const Mails& mails, const std::vector<int>& tops) {
    ScriptedPeer peer;
    test::LoginSteps(peer);
    test::ListingSteps(peer, mails);
    test::TopSteps(peer, mails, tops);
    test::QuitSteps(peer);
    return rig.ListAgainst(peer);
}

int Len(const std::string& s) {
    return static_cast<int>(s.size());
}

std::vector<MailEntry*> RowEntries(const MemoryList& list) {
    std::vector<MailEntry*> out;
    for (int row = 0; row < list.RowCount(); ++row) {
        out.push_back(list.RowEntry(row));
    }
    return out;
}

const Mails kThree = {Mail("uid-a", "alpha", "ann@example.jp"), Mail("uid-b", "beta", "bob@example.jp"),
                      Mail("uid-c", "gamma", "cat@example.jp")};

TEST(RunListing, FirstListingSendsItsCommandsInOrderAndWritesExactFiles) {
    ListingRig rig;
    // The frame's connection check is a NOOP of its own.
    rig.checkConnection = [&rig] { return rig.session.Noop() == 1; };
    std::string responseDuringRun;
    rig.onPosition = [&](int position) {
        if (position == 1) {
            responseDuringRun = Slurp(rig.mailbox->ResponsePath());
        }
    };
    ScriptedPeer peer;
    test::LoginSteps(peer).Expect("NOOP\r\n").Send("+OK\r\n");
    test::ListingSteps(peer, kThree);
    test::TopSteps(peer, kThree, {1, 2, 3});
    test::QuitSteps(peer);
    EXPECT_EQ(rig.ListAgainst(peer), 3);

    const CMailboxFiles& files = *rig.mailbox;
    EXPECT_EQ(responseDuringRun, test::UidlReply(kThree)) << "the UIDL reply exactly as received";
    EXPECT_EQ(Slurp(files.sidPath),
              IndexBytes({Record(1, 1, kThree[0].ListSize(), Len(kThree[0].Top()), "uid-a"),
                          Record(2, 2, kThree[1].ListSize(), Len(kThree[1].Top()), "uid-b"),
                          Record(3, 3, kThree[2].ListSize(), Len(kThree[2].Top()), "uid-c")}));
    EXPECT_EQ(Slurp(files.kvtPath), kThree[0].Top() + kThree[1].Top() + kThree[2].Top());
    for (const std::string& gone :
         {files.ResponsePath(), files.lstPath, files.NewIndexPath(), files.NewHeaderPath()}) {
        EXPECT_FALSE(Exists(gone)) << gone;
    }

    EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(rig.list.Text(1, kColumnFrom), " bob@example.jp");
    EXPECT_EQ(rig.list.Text(1, kColumnDate), "2005/03/07 09:05:00 ");
    EXPECT_EQ(rig.Ids(), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(rig.list.MarkImage(2), kImageUnmarked);
    ASSERT_EQ(files.entries.size(), 3u);
    EXPECT_EQ(RowEntries(rig.list),
              (std::vector<MailEntry*>{files.EntryAt(0), files.EntryAt(1), files.EntryAt(2)}));
    EXPECT_EQ(rig.ranges, (std::vector<std::pair<int, int>>{{0, 0}, {0, 3}, {1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(rig.positions, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(rig.list.SortIndicatorClears(), 1);
    EXPECT_EQ(rig.list.LastVisibleRow(), 2);
}

TEST(RunListing, AFailedConnectionCheckSendsNothing) {
    ListingRig rig;
    rig.checkConnection = [] { return false; };
    ScriptedPeer peer;
    test::LoginSteps(peer);
    test::QuitSteps(peer);
    EXPECT_EQ(rig.ListAgainst(peer), -1);
    EXPECT_EQ(rig.list.SortIndicatorClears(), 0);
}

// A second listing after a first one of `before`: what it fetches and shows.
struct SecondCase {
    const char* name;
    Mails before;
    Mails after;
    std::vector<int> tops;              // TOP numbers of the second listing
    std::vector<std::string> subjects;  // rows afterwards
    std::vector<std::string> keptUids;  // mails whose entry and row live on
};

TEST(RunListing, SecondListingReusesCachedHeadersAndRows) {
    const ServerMail a = Mail("uid-a", "alpha"), b = Mail("uid-b", "beta"), c = Mail("uid-c", "gamma"),
                     d = Mail("uid-d", "delta");
    const ServerMail x = Mail("*", "no id one"), y = Mail("*", "no id two");
    const ServerMail dup1 = Mail("same", "first of two"), dup2 = Mail("same", "second of two");
    const SecondCase cases[] = {
        {"no new mail", {a, b, c}, {a, b, c}, {}, {"alpha", "beta", "gamma"}, {"uid-a", "uid-b", "uid-c"}},
        {"a mail deleted elsewhere", {a, b, c}, {b, c}, {}, {"beta", "gamma"}, {"uid-b", "uid-c"}},
        {"a new mail", {a, b}, {a, b, d}, {3}, {"alpha", "beta", "delta"}, {"uid-a", "uid-b"}},
        {"one gone, one new, all renumbered", {a, b, c}, {c, d}, {2}, {"gamma", "delta"}, {"uid-c"}},
        {"every id changed",
         {a, b, c},
         {Mail("new-1", "one"), Mail("new-2", "two")},
         {1, 2},
         {"one", "two"},
         {}},
        {"a server without UIDL lines", {x, y}, {x, y}, {1, 2}, {"no id one", "no id two"}, {}},
        {"a repeated id on the server",
         {dup1, dup2},
         {dup1, dup2},
         {2},
         {"first of two", "second of two"},
         {"same"}},
    };
    for (const SecondCase& c2 : cases) {
        SCOPED_TRACE(c2.name);
        ListingRig rig;
        std::vector<int> all;
        for (std::size_t i = 1; i <= c2.before.size(); ++i) {
            all.push_back(static_cast<int>(i));
        }
        ASSERT_EQ(ListOnce(rig, c2.before, all), static_cast<int>(c2.before.size()));
        std::map<std::string, MailEntry*> entryOf;
        for (std::size_t i = 0; i < c2.before.size(); ++i) {
            entryOf.emplace(c2.before[i].uid, rig.list.RowEntry(static_cast<int>(i)));
        }

        EXPECT_EQ(ListOnce(rig, c2.after, c2.tops), static_cast<int>(c2.after.size()));
        EXPECT_EQ(rig.Subjects(), c2.subjects);
        std::vector<std::uint32_t> ids;
        for (std::size_t i = 1; i <= c2.after.size(); ++i) {
            ids.push_back(static_cast<std::uint32_t>(i));
        }
        EXPECT_EQ(rig.Ids(), ids) << "ids are the positions of the new listing";
        for (const std::string& uid : c2.keptUids) {
            EXPECT_NE(rig.list.FindRow(entryOf[uid]), -1) << uid << " kept its row";
        }
        // The files now describe exactly the rows on screen.
        std::string header;
        for (const ServerMail& m : c2.after) {
            header += m.Top();
        }
        EXPECT_EQ(Slurp(rig.mailbox->kvtPath), header);
        EXPECT_EQ(ReadIndex(rig.mailbox->sidPath).size(), c2.after.size());
        EXPECT_TRUE(ConsistentPair(*rig.mailbox));
        for (int row = 0; row < rig.list.RowCount(); ++row) {
            EXPECT_EQ(rig.mailbox->EntryAt(row), rig.list.RowEntry(row));
        }
    }
}

TEST(RunListing, NoNewMailKeepsEveryRowWhereItWas) {
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, kThree, {1, 2, 3}), 3);
    rig.list.SetMarkImage(1, kImageMarked);
    std::vector<MailEntry*> before = RowEntries(rig.list);
    std::string index = Slurp(rig.mailbox->sidPath);
    std::string header = Slurp(rig.mailbox->kvtPath);
    EXPECT_EQ(ListOnce(rig, kThree, {}), 3);
    EXPECT_EQ(rig.topChunks, 0) << "no TOP at all";
    EXPECT_EQ(RowEntries(rig.list), before);
    EXPECT_EQ(rig.list.MarkImage(1), kImageMarked);
    EXPECT_EQ(Slurp(rig.mailbox->sidPath), index);
    EXPECT_EQ(Slurp(rig.mailbox->kvtPath), header);
}

TEST(RunListing, CachedEmptyBlockIsFetchedAndItsRowUpdatedInPlace) {
    ListingRig rig;
    const CMailboxFiles& files = *rig.mailbox;
    // Left by an interrupted run: beta was never fetched.
    Spit(files.sidPath, IndexBytes({Record(1, 1, kThree[0].ListSize(), Len(kThree[0].Top()), "uid-a"),
                                    Record(2, 2, kThree[1].ListSize(), 0, "uid-b"),
                                    Record(3, 3, kThree[2].ListSize(), Len(kThree[2].Top()), "uid-c")}));
    Spit(files.kvtPath, kThree[0].Top() + kThree[2].Top());
    rig.SwitchAccount();
    ASSERT_EQ(rig.Subjects(), (std::vector<std::string>{"alpha", "", "gamma"}));
    rig.list.SetMarkImage(1, kImageMarked);
    std::vector<MailEntry*> before = RowEntries(rig.list);

    EXPECT_EQ(ListOnce(rig, kThree, {2}), 3);
    EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"alpha", "beta", "gamma"}));
    EXPECT_EQ(RowEntries(rig.list), before) << "updated in place, not appended";
    EXPECT_EQ(rig.list.MarkImage(1), kImageMarked);
    EXPECT_EQ(rig.list.RowEntry(1)->mark, 1);
    EXPECT_TRUE(ConsistentPair(*rig.mailbox));
}

TEST(RunListing, CachedMailsWithoutLoadedEntriesGetNewRows) {
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, kThree, {1, 2, 3}), 3);
    // A fresh cache object that did not load the list: the cache files are
    // there, the entries are not, so the rows are made anew.
    rig.mailbox->ClearList(rig.list);
    rig.mailbox = std::make_unique<CMailboxFiles>(rig.accountName, rig.folder.path());
    rig.host.SetMailbox(rig.mailbox.get());
    EXPECT_EQ(ListOnce(rig, kThree, {1, 2, 3}), 3);
    EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"alpha", "beta", "gamma"}));
}

TEST(RunListing, MailDeletedHereButStillOnTheServerComesBackAsNew) {
    ListingRig rig;
    const CMailboxFiles& files = *rig.mailbox;
    Spit(files.sidPath, IndexBytes({Record(1, 1, kThree[0].ListSize(), Len(kThree[0].Top()), "uid-a"),
                                    Record(0, 2, kThree[1].ListSize(), Len(kThree[1].Top()), "uid-b")}));
    Spit(files.kvtPath, kThree[0].Top() + kThree[1].Top());
    rig.SwitchAccount();
    ASSERT_EQ(rig.Subjects(), (std::vector<std::string>{"alpha"}));
    MailEntry* alpha = rig.list.RowEntry(0);
    const Mails two(kThree.begin(), kThree.begin() + 2);
    EXPECT_EQ(ListOnce(rig, two, {2}), 2);
    EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(rig.list.RowEntry(0), alpha);
    EXPECT_EQ(rig.mailbox->entries.size(), 2u) << "the row-less entry was dropped";
}

TEST(RunListing, OneCacheFileMissingClearsTheRowsAndFetchesEverything) {
    for (bool dropIndex : {true, false}) {
        SCOPED_TRACE(dropIndex ? "header file without index file" : "index file without header file");
        ListingRig rig;
        ASSERT_EQ(ListOnce(rig, kThree, {1, 2, 3}), 3);
        rig.list.SetMarkImage(0, kImageMarked);
        ::unlink((dropIndex ? rig.mailbox->sidPath : rig.mailbox->kvtPath).c_str());
        EXPECT_EQ(ListOnce(rig, kThree, {1, 2, 3}), 3);
        EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"alpha", "beta", "gamma"}));
        EXPECT_EQ(rig.list.MarkImage(0), kImageUnmarked) << "the marked row went with the others";
        EXPECT_TRUE(ConsistentPair(*rig.mailbox));
    }
}

TEST(RunListing, EmptyMailboxDeletesTheCacheAndEmptiesTheList) {
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, kThree, {1, 2, 3}), 3);
    EXPECT_EQ(ListOnce(rig, {}, {}), 0);
    EXPECT_EQ(rig.list.RowCount(), 0);
    EXPECT_TRUE(rig.mailbox->entries.empty());
    EXPECT_FALSE(Exists(rig.mailbox->sidPath));
    EXPECT_FALSE(Exists(rig.mailbox->kvtPath));
    EXPECT_EQ(rig.ranges, (std::vector<std::pair<int, int>>{{0, 0}, {0, 0}}));
}

TEST(RunListing, CancelAfterTheThirdOfTenKeepsThreeRowsAndACacheOfTen) {
    Mails ten;
    for (int i = 1; i <= 10; ++i) {
        ten.push_back(Mail("id-" + std::to_string(i), "subject " + std::to_string(i)));
    }
    ListingRig rig;
    rig.onPosition = [&rig](int position) {
        if (position == 3) {
            rig.session.cancel = 1;  // what the receive command does as cancel
        }
    };
    EXPECT_EQ(ListOnce(rig, ten, {1, 2, 3}), -2);
    rig.onPosition = nullptr;
    EXPECT_EQ(rig.list.RowCount(), 3);
    std::vector<IndexRecord> index = ReadIndex(rig.mailbox->sidPath);
    ASSERT_EQ(index.size(), 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(index[i].headerLength != 0, i < 3) << i;
    }
    EXPECT_TRUE(ConsistentPair(*rig.mailbox));

    rig.SwitchAccount();
    ASSERT_EQ(rig.list.RowCount(), 10);
    int empty = 0;
    for (int row = 0; row < 10; ++row) {
        empty +=
            rig.list.Text(row, kColumnSubject).empty() && rig.list.Text(row, kColumnFrom).empty() ? 1 : 0;
    }
    EXPECT_EQ(empty, 7);
    EXPECT_EQ(rig.statuses, (std::vector<int>{10020, 10019}));
    EXPECT_EQ(rig.positions.back(), 10);

    // The next listing fetches only the seven and fills their rows in place.
    std::vector<MailEntry*> before = RowEntries(rig.list);
    rig.session.cancel = 0;
    EXPECT_EQ(ListOnce(rig, ten, {4, 5, 6, 7, 8, 9, 10}), 10);
    EXPECT_EQ(RowEntries(rig.list), before);
    EXPECT_EQ(rig.list.Text(9, kColumnSubject), "subject 10");
}

TEST(RunListing, AHeaderFileThatCannotBeWrittenLeavesNoIndexBehind) {
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, kThree, {1, 2, 3}), 3);
    ASSERT_EQ(::mkdir(rig.mailbox->NewHeaderPath().c_str(), 0700), 0);
    const Mails two = {kThree[2], Mail("uid-n", "new")};
    // Reported, never "completed": the cache of this listing is lost.
    EXPECT_EQ(ListOnce(rig, two, {2}), -1);
    EXPECT_EQ(rig.prompt.asked.size(), 1u) << "the system's error is shown";
    EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"gamma", "new"}));
    // The entries are numbered for a listing the old index does not describe.
    EXPECT_FALSE(Exists(rig.mailbox->sidPath));
    ::rmdir(rig.mailbox->NewHeaderPath().c_str());
    rig.SwitchAccount();
    EXPECT_EQ(rig.list.RowCount(), 0);
}

// --- servers that misbehave --------------------------------------------------

struct HostileCase {
    const char* name;
    std::function<void(ScriptedPeer&)> steps;  // after the login
    int result;
    bool answersQuit = true;
    std::chrono::milliseconds timeout{60000};
};

TEST(RunListing, HostileServersEndCleanly) {
    const Mails cached = {kThree[0], kThree[1]};
    const Mails fresh = {Mail("uid-x", "x"), Mail("uid-y", "y")};
    const std::string longLine(4996, '9');
    auto upToList = [](ScriptedPeer& p, const std::string& stat) {
        p.Expect("NOOP\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send(stat);
    };
    const HostileCase cases[] = {
        {"STAT without a count", [&](ScriptedPeer& p) { upToList(p, "+OK\r\n"); }, -1},
        {"STAT count not a number", [&](ScriptedPeer& p) { upToList(p, "+OK many 100\r\n"); }, -1},
        {"STAT refused", [&](ScriptedPeer& p) { upToList(p, "-ERR busy\r\n"); }, -1},
        {"STAT count larger than LIST",
         [&](ScriptedPeer& p) {
             upToList(p, "+OK 3 300\r\n");
             p.Expect("LIST\r\n").Send(test::ListReply(fresh));
         },
         -1},
        {"STAT count beyond 32 bits",
         [&](ScriptedPeer& p) {
             upToList(p, "+OK 99999999999 300\r\n");
             p.Expect("LIST\r\n").Send(test::ListReply(fresh));
         },
         -1},
        {"LIST refused",
         [&](ScriptedPeer& p) {
             upToList(p, test::StatReply(fresh));
             p.Expect("LIST\r\n").Send("-ERR no\r\n");
         },
         -1},
        {"a LIST line of 5,000 bytes",
         [&](ScriptedPeer& p) {
             upToList(p, test::StatReply(fresh));
             p.Expect("LIST\r\n").Send("+OK\r\n1 100\r\n2 " + longLine + "\r\n.\r\n");
         },
         -1, false},
        {"UIDL refused",
         [&](ScriptedPeer& p) {
             upToList(p, test::StatReply(fresh));
             p.Expect("LIST\r\n").Send(test::ListReply(fresh)).Expect("UIDL\r\n").Send("-ERR no\r\n");
         },
         -1},
        {"a UIDL line of 5,000 bytes",
         [&](ScriptedPeer& p) {
             upToList(p, test::StatReply(fresh));
             p.Expect("LIST\r\n").Send(test::ListReply(fresh)).Expect("UIDL\r\n");
             p.Send("+OK\r\n1 " + longLine + "\r\n2 b\r\n.\r\n");
         },
         -1, false},
        {"TOP refused for the second mail",
         [&](ScriptedPeer& p) {
             test::ListingSteps(p, fresh);
             test::TopSteps(p, fresh, {1});
             p.Expect("TOP 2 0\r\n").Send("-ERR gone\r\n");
         },
         -2},
        {"a LIST line without a number",
         [&](ScriptedPeer& p) {
             upToList(p, "+OK 1 100\r\n");
             p.Expect("LIST\r\n")
                 .Send("+OK\r\nx 100\r\n.\r\n")
                 .Expect("UIDL\r\n")
                 .Send("+OK\r\n1 z\r\n.\r\n");
             p.Expect("TOP 0 0\r\n").Send("-ERR no such message\r\n");
         },
         -2},
        {"a TOP that never ends",
         [&](ScriptedPeer& p) {
             test::ListingSteps(p, fresh);
             p.Expect("TOP 1 0\r\n").Send("+OK\r\nSubject: x\r\n").Silence();
         },
         -2, false, std::chrono::milliseconds(1000)},
        {"a LIST that never ends",
         [&](ScriptedPeer& p) {
             upToList(p, test::StatReply(fresh));
             p.Expect("LIST\r\n").Send("+OK\r\n").Stream("1 100\r\n");
         },
         -1, false},
        {"a UIDL that trickles for ever",
         [&](ScriptedPeer& p) {
             upToList(p, test::StatReply(fresh));
             p.Expect("LIST\r\n").Send(test::ListReply(fresh)).Expect("UIDL\r\n").Send("+OK\r\n");
             p.Stream("u", std::chrono::milliseconds(20));
         },
         -1, false, std::chrono::milliseconds(300)},
        {"a TOP that floods",
         [&](ScriptedPeer& p) {
             test::ListingSteps(p, fresh);
             p.Expect("TOP 1 0\r\n").Send("+OK\r\n").Stream("X-Junk: " + std::string(1000, 'j') + "\r\n");
         },
         -2, false},
        {"the connection closed inside a TOP",
         [&](ScriptedPeer& p) {
             test::ListingSteps(p, fresh);
             p.Expect("TOP 1 0\r\n").Send("+OK\r\nSubject: x\r\n").Close();
         },
         -2, false},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        ListingRig rig;
        ASSERT_EQ(ListOnce(rig, cached, {1, 2}), 2);
        std::vector<MailEntry*> rows = RowEntries(rig.list);
        std::string index = Slurp(rig.mailbox->sidPath);
        std::string header = Slurp(rig.mailbox->kvtPath);

        ScriptedPeer peer;
        test::LoginSteps(peer);
        c.steps(peer);
        if (c.answersQuit) {
            test::QuitSteps(peer);
        }
        rig.session.inactivityTimeout = c.timeout;
        EXPECT_EQ(rig.ListAgainst(peer), c.result);
        if (c.result == -1) {
            EXPECT_EQ(RowEntries(rig.list), rows) << "the rows do not change";
            EXPECT_EQ(Slurp(rig.mailbox->sidPath), index);
            EXPECT_EQ(Slurp(rig.mailbox->kvtPath), header);
        } else {
            EXPECT_TRUE(ConsistentPair(*rig.mailbox));
            EXPECT_EQ(rig.mailbox->entries.size(), static_cast<std::size_t>(rig.list.RowCount()));
        }
    }
}

// An id longer than RFC 1939 allows is cut to fit its record, so two such ids
// that share their first 71 bytes would look alike: a cut id matches nothing,
// like "*". The longest id RFC 1939 allows is still recognised.
TEST(RunListing, ACutIdMatchesNothingAndTheLongestWholeIdStillMatches) {
    const std::string stem(71, 'k');
    const Mails mails = {Mail(stem + "-first", "first"), Mail(stem + "-second", "second"),
                         Mail(std::string(70, 'w'), "whole")};
    ListingRig rig;
    ASSERT_EQ(ListOnce(rig, mails, {1, 2, 3}), 3);
    EXPECT_EQ(UidOf(ReadIndex(rig.mailbox->sidPath).at(0)), stem);
    EXPECT_EQ(UidOf(ReadIndex(rig.mailbox->sidPath).at(1)), stem);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "next listing" : "after an account switch");
        // Both cut ids are fetched again, like new mails (their rows come
        // last); the whole one comes from the cache and keeps its row.
        EXPECT_EQ(ListOnce(rig, mails, {1, 2}), 3);
        EXPECT_EQ(rig.Subjects(), (std::vector<std::string>{"whole", "first", "second"}));
        for (int row = 0; row < 3; ++row) {
            IndexRecord record;
            EXPECT_EQ(ReadEntryRecord(rig.mailbox->sidPath, *rig.list.RowEntry(row), &record),
                      row == 0 ? EntryRecord::kSame : EntryRecord::kNoUsableId)
                << "row " << row;
        }
        rig.SwitchAccount();
    }
}

}  // namespace
}  // namespace wp
