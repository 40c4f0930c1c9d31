// The fetch for viewing against the test Dovecot: a listed mail is found
// again after another client deleted an earlier one, and a mail of 5 MB
// arrives as growing live text before it is shown whole.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fetch_rig.h"
#include "platform/strings.h"
#include "support/blocking_pop3.h"
#include "support/dovecot.h"

namespace wp {
namespace {

using test::ListingRig;
using test::RecordingFetchViewer;

class FetchForViewDovecot : public test::DovecotMailboxTest {
protected:
    // Lists the mailbox into the rig's cache and stays logged in.
    void ListInto(ListingRig& rig) {
        ASSERT_TRUE(rig.LoginTo(server_.host, server_.port, user_.name(), user_.password()));
        ASSERT_GT(rig.Listing(), 0);
    }
    int Fetch(ListingRig& rig, std::uint32_t id, RecordingFetchViewer& viewer) {
        OperationContext ctx = rig.Context();
        return RunFetchForView(*rig.mailbox, ctx, test::EntryWithId(id), viewer, [] { return -1; });
    }
};

TEST_F(FetchForViewDovecot, AMailRenumberedByAnotherClientIsStillTheOneShown) {
    ASSERT_TRUE(test::FillMailbox(
        user_.name(),
        {"Subject: one\n\nfirst body\n", "Subject: two\n\nsecond body\n", "Subject: three\n\nthird body\n"}));
    ListingRig rig;
    ListInto(rig);
    rig.session.Quit(true);

    // Another client deletes the first mail.
    test::BlockingPop3 other;
    ASSERT_TRUE(other.Connect(server_.host, server_.port)) << other.error();
    ASSERT_TRUE(other.LoginUser(user_.name(), user_.password())) << other.error();
    ASSERT_TRUE(test::IsOk(other.Command("DELE 1")));
    ASSERT_TRUE(test::IsOk(other.Command("QUIT")));
    other.Close();

    ASSERT_TRUE(rig.LoginTo(server_.host, server_.port, user_.name(), user_.password()));
    RecordingFetchViewer viewer;
    EXPECT_EQ(Fetch(rig, 3, viewer), 0);
    ASSERT_TRUE(viewer.shown);
    EXPECT_EQ(SplitMailText(*viewer.shown, false).body, "third body\r\n");

    // The first mail itself is gone: not found, and the row's data stays.
    RecordingFetchViewer gone;
    EXPECT_EQ(Fetch(rig, 1, gone), -2);
    EXPECT_EQ(gone.statuses, std::vector<std::string>{"ﾒｰﾙｻｰﾊﾞに見つかりません"});
    rig.session.Quit(true);
}

TEST_F(FetchForViewDovecot, AFiveMegabyteMailGrowsLiveAndIsShownWhole) {
    std::string body;
    body.reserve(5u << 20);
    for (int i = 0; body.size() < (5u << 20); ++i) {
        body += "\x1b$B$3$s$K$A$O\x1b(B line " + std::to_string(i) + "\n";
    }
    ASSERT_TRUE(test::FillMailbox(
        user_.name(), {"Subject: big\nContent-Type: text/plain; charset=ISO-2022-JP\n\n" + body}));
    ListingRig rig;
    ListInto(rig);
    RecordingFetchViewer viewer;
    std::vector<std::size_t> liveSizes;
    viewer.onLive = [&] { liveSizes.push_back(viewer.live.size()); };
    EXPECT_EQ(Fetch(rig, 1, viewer), 0);
    rig.session.Quit(true);

    ASSERT_GE(liveSizes.size(), 2u) << "the text grows while the mail arrives";
    EXPECT_TRUE(std::is_sorted(viewer.received.begin(), viewer.received.end()));
    EXPECT_EQ(static_cast<std::size_t>(viewer.received.back()), viewer.live.size());
    EXPECT_GT(viewer.live.size(), 5u << 20);
    ASSERT_TRUE(viewer.shown);
    const std::string shownBody = SplitMailText(*viewer.shown, false).body;
    const std::string first = Sjis("こんにちは") + " line 0\r\n";
    EXPECT_EQ(shownBody.substr(0, first.size()), first);
    EXPECT_EQ(std::count(shownBody.begin(), shownBody.end(), '\n'),
              std::count(body.begin(), body.end(), '\n'));
}

}  // namespace
}  // namespace wp
