// The real list view as the listing writes to it: rows are found by their
// entry, in constant time, and stay right through sorts, deletions and a
// column click inside a TOP.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "list_rig.h"
#include "mail/listing_rig.h"
#include "mail/mailbox_session_host.h"
#include "mail/run_listing.h"

namespace wp {
namespace {

using test::ListRig;
using test::Mail;
using test::ScriptedPeer;
using test::ServerMail;

TEST(ListEntryLookup, FindRowAnswersAsAScanThroughSortsAndDeletions) {
    ListRig rig;
    const char* subjects[] = {"d", "a", "c", "b", "f", "e", "h", "g"};
    for (int i = 0; i < 80; ++i) {
        rig.Add("x", subjects[i % 8], "2005/03/07 09:05:00 ", static_cast<std::uint32_t>(i));
    }
    MailEntry stranger;
    auto check = [&](const char* step) {
        SCOPED_TRACE(step);
        for (const auto& entry : rig.entries) {
            int scanned = -1;
            for (int row = 0; row < rig.view->RowCount() && scanned < 0; ++row) {
                if (rig.view->RowEntry(row) == entry.get()) {
                    scanned = row;
                }
            }
            ASSERT_EQ(rig.view->FindRow(entry.get()), scanned);
        }
        EXPECT_EQ(rig.view->FindRow(&stranger), -1);
        EXPECT_EQ(rig.view->FindRow(nullptr), -1);
    };
    check("appended");
    rig.view->SortByColumn(kColumnSubject);
    check("sorted by subject");
    rig.view->DeleteRows({0, 1, 2});  // one run
    check("a run deleted");
    std::vector<int> scattered;
    for (int row = 0; row < rig.view->RowCount(); row += 2) {
        scattered.push_back(row);  // more runs than are removed one by one
    }
    rig.view->DeleteRows(scattered);
    check("scattered rows deleted");
    rig.view->SortByColumn(kColumnSize);
    check("sorted by size");
    rig.Add("y", "new", "2005/03/07 09:05:00 ", 1);
    check("appended after a sort");
    rig.view->DeleteAllRows();
    check("emptied");
}

// Four cached records of which only the first has its header block: the
// listing fetches the other three and updates their rows in place, while a
// column click sorts the list inside each TOP.
TEST(ListEntryLookup, AColumnClickInsideTopLeavesEveryRowItsOwnMail) {
    ListRig rig;
    const std::vector<ServerMail> mails = {Mail("uid-1", "delta"), Mail("uid-2", "alpha"),
                                           Mail("uid-3", "charlie"), Mail("uid-4", "bravo")};
    CMailboxFiles mailbox("acct", ListRig::DataFolder(rig.root));
    {
        std::vector<IndexRecord> records;
        for (int i = 0; i < 4; ++i) {
            records.push_back(test::Record(i + 1, i + 1, mails[static_cast<std::size_t>(i)].ListSize(),
                                           i == 0 ? static_cast<int>(mails[0].Top().size()) : 0,
                                           mails[static_cast<std::size_t>(i)].uid));
        }
        test::Spit(mailbox.sidPath, test::IndexBytes(records));
        test::Spit(mailbox.kvtPath, mails[0].Top());
    }
    test::LenientPrompt prompt;
    LoadCachedList(mailbox, *rig.view, prompt, {}, {}, {});
    ASSERT_EQ(rig.view->RowCount(), 4);

    MailboxSessionHost host(&mailbox);
    int clicks = 0;
    host.progressAddBytes = [&](int) {
        ++clicks;
        rig.view->SortByColumn(clicks % 2 == 0 ? kColumnSubject : kColumnSize);
    };
    ScriptedPeer peer;
    test::LoginSteps(peer);
    test::ListingSteps(peer, mails);
    test::TopSteps(peer, mails, {2, 3, 4});
    test::QuitSteps(peer);
    peer.Start();
    CMailSocket socket;
    CPop3Session session(socket);
    test::RecordingWindow window;
    auto owner = MakeQtWindow(window);
    ASSERT_TRUE(session.Prepare(owner.get(), &host));
    session.SetLogin(ScriptedPeer::host(), peer.port(), "alice", "secret", 0);
    ASSERT_EQ(session.Login(), kLoginOk);
    OperationContext ctx{session, *rig.view, prompt, [] { return true; }, {}, {}, {}, {}};
    EXPECT_EQ(RunListing(mailbox, ctx), 4);
    session.Quit(true);
    peer.Check();
    EXPECT_GE(clicks, 3);

    std::map<std::string, std::string> subjectOf = {
        {"uid-1", "delta"}, {"uid-2", "alpha"}, {"uid-3", "charlie"}, {"uid-4", "bravo"}};
    ASSERT_EQ(rig.view->RowCount(), 4);
    for (int row = 0; row < 4; ++row) {
        const MailEntry* entry = rig.view->RowEntry(row);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->subject, subjectOf[entry->uid]) << "row " << row;
        EXPECT_EQ(rig.view->Text(row, kColumnSubject).toStdString(), entry->subject) << "row " << row;
    }
    ASSERT_EQ(mailbox.entries.size(), 4u);
    for (const auto& entry : mailbox.entries) {
        EXPECT_GE(rig.view->FindRow(entry.get()), 0) << "every entry has its row, none two";
    }
    mailbox.ClearList(*rig.view);
}

}  // namespace
}  // namespace wp
