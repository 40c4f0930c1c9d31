// Deleting marked mails against a scripted server: which DELE goes out with
// which number, which rows go and which stay marked, what the index file
// says afterwards, and what a refused DELE, a cut connection, an unanswered
// QUIT and a cancel leave behind.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "listing_rig.h"
#include "mail/delete_marked.h"
#include "platform/string_table.h"

namespace wp {
namespace {

using test::ListingRig;
using test::Mail;
using test::ScriptedPeer;
using test::ServerMail;

using Mails = std::vector<ServerMail>;
using Strings = std::vector<std::string>;

const Mails kFive = {Mail("u1", "one"), Mail("u2", "two"), Mail("u3", "three"), Mail("u4", "four"),
                     Mail("u5", "five")};

// The first listing, from login to QUIT: every row on screen, every header cached.
void ListAll(ListingRig& rig, const Mails& mails) {
    ScriptedPeer peer;
    test::LoginSteps(peer);
    test::ListingSteps(peer, mails);
    std::vector<int> all;
    for (std::size_t i = 0; i < mails.size(); ++i) {
        all.push_back(static_cast<int>(i + 1));
    }
    test::TopSteps(peer, mails, all);
    test::QuitSteps(peer);
    ASSERT_EQ(rig.ListAgainst(peer), static_cast<int>(mails.size()));
}

void Mark(ListingRig& rig, const std::vector<int>& rows) {
    for (int row : rows) {
        rig.list.SetMarkImage(row, kImageMarked);
    }
}

Strings MarkedSubjects(const ListingRig& rig) {
    Strings out;
    for (int row = 0; row < rig.list.RowCount(); ++row) {
        if (rig.list.MarkImage(row) == kImageMarked) {
            out.push_back(rig.list.Text(row, kColumnSubject));
        }
    }
    return out;
}

// A list that lets a test act when a row is deleted (the user pressing
// cancel while the deletion pumps messages).
class WatchedList final : public MailList {
public:
    explicit WatchedList(MemoryList& inner) : inner_(inner) {}
    int RowCount() const override { return inner_.RowCount(); }
    MailEntry* RowEntry(int row) const override { return inner_.RowEntry(row); }
    int FindRow(const MailEntry* entry) const override { return inner_.FindRow(entry); }
    int InsertRow(MailEntry* entry, int markImage) override { return inner_.InsertRow(entry, markImage); }
    void UpdateRow(int row) override { inner_.UpdateRow(row); }
    void DeleteRow(int row) override {
        inner_.DeleteRow(row);
        if (onDelete) {
            onDelete();
        }
    }
    void DeleteAllRows() override { inner_.DeleteAllRows(); }
    void ReserveRows(int count) override { inner_.ReserveRows(count); }
    int MarkImage(int row) const override { return inner_.MarkImage(row); }
    void SetMarkImage(int row, int image) override { inner_.SetMarkImage(row, image); }
    bool IsSelected(int row) const override { return inner_.IsSelected(row); }
    void SetSelected(int row, bool selected) override { inner_.SetSelected(row, selected); }
    int CurrentRow() const override { return inner_.CurrentRow(); }
    void EnsureVisible(int row) override { inner_.EnsureVisible(row); }
    void ClearSortIndicator() override { inner_.ClearSortIndicator(); }

    std::function<void()> onDelete;

private:
    MemoryList& inner_;
};

struct Outcome {
    int result = 0;
    DeletionReport report;
    bool quitAcknowledged = false;
};

// The deletion as the frame runs it: login, DeleteMarked, QUIT, settling.
// `script` plays what the server does after NOOP/STAT/LIST/UIDL of `now`.
Outcome DeleteAgainst(ListingRig& rig, const Mails& now, const std::function<void(ScriptedPeer&)>& script,
                  MailList* list = nullptr) {
    ScriptedPeer peer;
    test::LoginSteps(peer);
    test::ListingSteps(peer, now);
    script(peer);
    peer.Start();
    Outcome run;
    EXPECT_TRUE(rig.Login(peer));
    OperationContext base = rig.Context();
    OperationContext ctx{base.session,       list != nullptr ? *list : base.list,
                         base.prompt,        base.checkConnection,
                         base.progressRange, base.progressPos,
                         base.postStatus,    base.accountStillValid};
    run.result = DeleteMarked(*rig.mailbox, ctx, &run.report);
    rig.session.cancel = 0;
    run.quitAcknowledged = rig.session.Command("QUIT\r\n", 6, nullptr) == 1;
    rig.session.Quit(false);
    SettleDeletion(*rig.mailbox, rig.list, run.report, run.quitAcknowledged);
    peer.Check();
    return run;
}

std::function<void(ScriptedPeer&)> Deles(const std::vector<int>& numbers) {
    return [numbers](ScriptedPeer& peer) {
        for (int n : numbers) {
            peer.Expect("DELE " + std::to_string(n) + "\r\n").Send("+OK marked\r\n");
        }
        test::QuitSteps(peer);
    };
}

struct MarkCase {
    const char* what;
    std::vector<int> marked;  // 0-based rows
    std::vector<int> deles;
    Strings left;
};

TEST(DeleteMarked, MarkedMailsGoAndTheOthersKeepTheirOrder) {
    const MarkCase cases[] = {
        {"rows 2 and 3 of five (adjacent)", {1, 2}, {2, 3}, {"one", "four", "five"}},
        {"first and last", {0, 4}, {1, 5}, {"two", "three", "four"}},
        {"three adjacent at the end", {2, 3, 4}, {3, 4, 5}, {"one", "two"}},
        {"every row", {0, 1, 2, 3, 4}, {1, 2, 3, 4, 5}, {}},
        {"none", {}, {}, {"one", "two", "three", "four", "five"}},
    };
    for (const MarkCase& c : cases) {
        SCOPED_TRACE(c.what);
        ListingRig rig;
        ListAll(rig, kFive);
        Mark(rig, c.marked);
        Outcome run = DeleteAgainst(rig, kFive, Deles(c.deles));
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.quitAcknowledged);
        EXPECT_EQ(rig.Subjects(), c.left);
        EXPECT_EQ(run.report.Count(DeleteOutcome::kDeleted), static_cast<int>(c.deles.size()));
        EXPECT_EQ(DeletionStatusId(run.report), IDS_STATUS_DELETED);
        // The index file says so: switching away and back shows no deleted mail.
        rig.SwitchAccount();
        EXPECT_EQ(rig.Subjects(), c.left);
    }
}

TEST(DeleteMarked, MailGoneElsewhereGetsNoDeleAndRenumberedMailItsCurrentNumber) {
    ListingRig rig;
    ListAll(rig, kFive);
    Mark(rig, {2, 3});  // three (deleted elsewhere) and four (now number 3)
    const Mails now = {kFive[0], kFive[1], kFive[3], kFive[4]};
    Outcome run = DeleteAgainst(rig, now, Deles({3}));
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.report.rows.size(), 2u);
    EXPECT_EQ(run.report.rows[0].outcome, DeleteOutcome::kNotOnServer);
    EXPECT_EQ(run.report.rows[1].outcome, DeleteOutcome::kDeleted);
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "two", "five"}));
    EXPECT_EQ(DeletionStatusId(run.report), IDS_STATUS_DELETED);
    rig.SwitchAccount();
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "two", "five"}));
}

TEST(DeleteMarked, RefusedDeleKeepsRowMarkAndRecord) {
    ListingRig rig;
    ListAll(rig, kFive);
    Mark(rig, {1, 2});
    Outcome run = DeleteAgainst(rig, kFive, [](ScriptedPeer& peer) {
        peer.Expect("DELE 2\r\n").Send("-ERR mailbox is locked\r\n");
        peer.Expect("DELE 3\r\n").Send("+OK\r\n");
        test::QuitSteps(peer);
    });
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "two", "four", "five"}));
    EXPECT_EQ(MarkedSubjects(rig), (Strings{"two"}));
    EXPECT_EQ(run.report.NotDeleted(), 1);
    EXPECT_EQ(DeletionStatusId(run.report), IDS_STATUS_NOT_DELETED_COUNT);
    rig.SwitchAccount();
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "two", "four", "five"}));
}

// Every DELE goes out before the first answer; each answer still settles
// its own row, in the order and with the outcome of one at a time.
TEST(DeleteMarked, PipelinedDelesSettleEachRowAsOneAtATime) {
    ListingRig rig;
    ListAll(rig, kFive);
    Mark(rig, {0, 1, 2, 4});
    const Mails now = {kFive[0], kFive[1], kFive[3], kFive[4]};  // three deleted elsewhere
    Outcome run = DeleteAgainst(rig, now, [](ScriptedPeer& peer) {
        peer.Expect("CAPA\r\n").Send("+OK\r\nPIPELINING\r\n.\r\n");
        peer.Expect("DELE 1\r\n").Expect("DELE 2\r\n").Expect("DELE 4\r\n");
        peer.Send("+OK\r\n-ERR mailbox is locked\r\n+OK\r\n", test::Pieces::Every(2));
        test::QuitSteps(peer);
    });
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.report.rows.size(), 4u);
    EXPECT_EQ(run.report.rows[0].outcome, DeleteOutcome::kDeleted);
    EXPECT_EQ(run.report.rows[1].outcome, DeleteOutcome::kRefused);
    EXPECT_EQ(run.report.rows[2].outcome, DeleteOutcome::kNotOnServer);
    EXPECT_EQ(run.report.rows[3].outcome, DeleteOutcome::kDeleted);
    EXPECT_EQ(rig.Subjects(), (Strings{"two", "four"}));
    EXPECT_EQ(MarkedSubjects(rig), (Strings{"two"}));
    EXPECT_EQ(DeletionStatusId(run.report), IDS_STATUS_NOT_DELETED_COUNT);
    rig.SwitchAccount();
    EXPECT_EQ(rig.Subjects(), (Strings{"two", "four"}));
}

TEST(DeleteMarked, ConnectionCutInADeleKeepsThatRowAndDeletesNothing) {
    ListingRig rig;
    ListAll(rig, kFive);
    Mark(rig, {1, 2});
    Outcome run = DeleteAgainst(rig, kFive, [](ScriptedPeer& peer) {
        peer.Expect("DELE 2\r\n").Send("+OK\r\n");
        peer.Expect("DELE 3\r\n").Close();
    });
    EXPECT_FALSE(run.quitAcknowledged);
    // DELE 2 was accepted, but without QUIT the server keeps it: its row is
    // back, marked, beside the one whose DELE went unanswered.
    EXPECT_EQ(run.report.Count(DeleteOutcome::kRefused), 1);
    EXPECT_EQ(run.report.NotDeleted(), 2);
    EXPECT_EQ(DeletionStatusId(run.report), IDS_STATUS_DELETE_NOT_DONE);
    EXPECT_EQ(MarkedSubjects(rig), (Strings{"three", "two"}));
    rig.SwitchAccount();
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "two", "three", "four", "five"}));
}

TEST(DeleteMarked, UnansweredQuitLeavesEveryMailListedWithItsCachedHeader) {
    ListingRig rig;
    ListAll(rig, kFive);
    Mark(rig, {1, 2});
    Outcome run = DeleteAgainst(rig, kFive, [](ScriptedPeer& peer) {
        peer.Expect("DELE 2\r\n").Send("+OK\r\n");
        peer.Expect("DELE 3\r\n").Send("+OK\r\n");
        peer.Expect("QUIT\r\n").Close();
    });
    EXPECT_EQ(run.result, 0);
    EXPECT_FALSE(run.quitAcknowledged);
    EXPECT_EQ(DeletionStatusId(run.report), IDS_STATUS_DELETE_NOT_DONE);
    EXPECT_EQ(run.report.NotDeleted(), 2);
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "four", "five", "two", "three"}));
    EXPECT_EQ(MarkedSubjects(rig), (Strings{"two", "three"}));

    // The next listing finds all five with their cached headers: no TOP.
    ScriptedPeer peer;
    test::LoginSteps(peer);
    test::ListingSteps(peer, kFive);
    test::QuitSteps(peer);
    EXPECT_EQ(rig.ListAgainst(peer), 5);
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "four", "five", "two", "three"}));
    rig.SwitchAccount();
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "two", "three", "four", "five"}));
}

TEST(DeleteMarked, CancelBetweenRowsKeepsTheRemainingMarkedRows) {
    ListingRig rig;
    ListAll(rig, kFive);
    Mark(rig, {1, 2, 3});
    WatchedList list(rig.list);
    list.onDelete = [&rig] { rig.session.cancel = 1; };
    Outcome run = DeleteAgainst(rig, kFive, Deles({2}), &list);
    EXPECT_EQ(run.result, -2);
    EXPECT_TRUE(run.quitAcknowledged);
    EXPECT_EQ(DeletionStatusId(run.report), IDS_STATUS_DELETE_STOPPED);
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "three", "four", "five"}));
    EXPECT_EQ(MarkedSubjects(rig), (Strings{"three", "four"}));
    rig.SwitchAccount();
    EXPECT_EQ(rig.Subjects(), (Strings{"one", "three", "four", "five"}));
}

TEST(DeleteMarked, ARowSortedAboveTheScanIsStillDeleted) {
    ListingRig rig;
    ListAll(rig, kFive);
    Mark(rig, {1, 4});  // two and five
    WatchedList list(rig.list);
    bool sorted = false;
    list.onDelete = [&] {
        // The user sorts the other way while the first deletion pumps messages.
        if (!sorted) {
            sorted = true;
            std::vector<int> reversed;
            for (int row = rig.list.RowCount() - 1; row >= 0; --row) {
                reversed.push_back(row);
            }
            rig.list.Reorder(reversed);
        }
    };
    Outcome run = DeleteAgainst(rig, kFive, Deles({2, 5}), &list);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(rig.Subjects(), (Strings{"four", "three", "one"}));
    EXPECT_EQ(MarkedSubjects(rig), Strings{});
}

TEST(DeleteMarked, PlaceholderIdsNeverLeadToADele) {
    // A server without UIDL lines: every cached id is the placeholder.
    Mails noIds = kFive;
    for (ServerMail& mail : noIds) {
        mail.uid.clear();
    }
    auto script = [&](ScriptedPeer& peer) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send(test::StatReply(noIds));
        peer.Expect("LIST\r\n").Send(test::ListReply(noIds)).Expect("UIDL\r\n").Send("+OK\r\n.\r\n");
    };
    ListingRig rig;
    {
        ScriptedPeer peer;
        test::LoginSteps(peer);
        script(peer);
        test::TopSteps(peer, noIds, {1, 2, 3, 4, 5});
        test::QuitSteps(peer);
        ASSERT_EQ(rig.ListAgainst(peer), 5);
    }
    Mark(rig, {1});
    ScriptedPeer peer;
    test::LoginSteps(peer);
    script(peer);
    test::QuitSteps(peer);
    peer.Start();
    ASSERT_TRUE(rig.Login(peer));
    DeletionReport report;
    OperationContext ctx = rig.Context();
    EXPECT_EQ(DeleteMarked(*rig.mailbox, ctx, &report), 0);
    EXPECT_EQ(rig.session.Command("QUIT\r\n", 6, nullptr), 1);
    rig.session.Quit(false);
    SettleDeletion(*rig.mailbox, rig.list, report, true);
    peer.Check();
    ASSERT_EQ(report.rows.size(), 1u);
    EXPECT_EQ(report.rows[0].outcome, DeleteOutcome::kNotDeletable);
    EXPECT_EQ(rig.list.RowCount(), 5);
    EXPECT_EQ(MarkedSubjects(rig), (Strings{"two"}));
    EXPECT_EQ(DeletionStatusId(report), IDS_STATUS_NOT_DELETED_COUNT);
}

TEST(DeleteMarked, FailureBeforeTheLoopDeletesNothingAndSaysSo) {
    ListingRig rig;
    ListAll(rig, kFive);
    Mark(rig, {0});
    ScriptedPeer peer;
    test::LoginSteps(peer);
    peer.Expect("NOOP\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send(test::StatReply(kFive));
    peer.Expect("LIST\r\n").Send(test::ListReply(kFive)).Expect("UIDL\r\n").Send("-ERR not now\r\n");
    test::QuitSteps(peer);
    peer.Start();
    ASSERT_TRUE(rig.Login(peer));
    DeletionReport report;
    OperationContext ctx = rig.Context();
    EXPECT_EQ(DeleteMarked(*rig.mailbox, ctx, &report), -1);
    rig.session.Quit(true);
    SettleDeletion(*rig.mailbox, rig.list, report, true);
    peer.Check();
    EXPECT_EQ(DeletionStatusId(report), IDS_STATUS_NOTHING_DELETED);
    EXPECT_EQ(rig.list.RowCount(), 5);
    EXPECT_EQ(MarkedSubjects(rig), (Strings{"one"}));
}

}  // namespace
}  // namespace wp
