// The user's operation started while a check of the same account runs. The
// server is scripted to hold one of the check's replies, so the check is
// certainly where the test wants it when the user comes: in the middle of
// its listing (which runs on the window's thread and serves the user's
// clicks while it waits), or still logging in on its worker.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "accounts/account_files.h"
#include "accounts/check_interval.h"
#include "engine/frame_engine.h"
#include "frame_rig.h"
#include "platform/string_table.h"
#include "platform/text.h"
#include "support/scripted_peer.h"
#include "support/wait_for.h"
#include "ui/mail_checker.h"

namespace wp {
namespace {

using test::FrameRig;
using test::ScriptedPeer;

struct ServerMail {
    std::string uid;
    std::string subject;
    std::string Header() const {
        return "From: a@example.jp\r\nSubject: " + subject + "\r\nDate: Mon, 7 Mar 2005 09:05:00 +0900\r\n";
    }
    int Size() const { return static_cast<int>(Header().size()) + 40; }
};

const std::vector<ServerMail> kMails = {{"u1", "one"}, {"u2", "two"}, {"u3", "three"}};

ScriptedPeer& Login(ScriptedPeer& peer) {
    return peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n");
}

// From the accepted login to the UIDL command of a listing, as the window's
// engine and the check's engine both make it.
// noops: the liveness checks of the ending login and of the listing.
ScriptedPeer& ListingUntilUidl(ScriptedPeer& peer, int noops = 5) {
    Login(peer).Send("+OK in\r\n");
    for (int i = 0; i < noops; ++i) {
        peer.Expect("NOOP\r\n").Send("+OK\r\n");
    }
    int total = 0;
    std::string list = "+OK\r\n";
    for (std::size_t i = 0; i < kMails.size(); ++i) {
        total += kMails[i].Size();
        list += std::to_string(i + 1) + " " + std::to_string(kMails[i].Size()) + "\r\n";
    }
    peer.Expect("STAT\r\n")
        .Send("+OK " + std::to_string(kMails.size()) + " " + std::to_string(total) + "\r\n");
    return peer.Expect("LIST\r\n").Send(list + ".\r\n").Expect("UIDL\r\n");
}

std::string UidlReply() {
    std::string uidl = "+OK\r\n";
    for (std::size_t i = 0; i < kMails.size(); ++i) {
        uidl += std::to_string(i + 1) + " " + kMails[i].uid + "\r\n";
    }
    return uidl + ".\r\n";
}

// A listing on a fresh cache: every mail's header is fetched.
ScriptedPeer& WholeListing(ScriptedPeer& peer) {
    ListingUntilUidl(peer).Send(UidlReply());
    for (std::size_t i = 0; i < kMails.size(); ++i) {
        peer.Expect("TOP " + std::to_string(i + 1) + " 0\r\n")
            .Send("+OK\r\n" + kMails[i].Header() + "\r\n.\r\n");
    }
    return peer.Expect("QUIT\r\n").Send("+OK bye\r\n");
}

// Saving every mail: the retrieval lists the server again, then fetches.
ScriptedPeer& SaveAll(ScriptedPeer& peer) {
    ListingUntilUidl(peer, 3).Send(UidlReply());
    for (std::size_t i = 0; i < kMails.size(); ++i) {
        const std::string mail = kMails[i].Header() + "\r\nbody\r\n";
        peer.Expect("RETR " + std::to_string(i + 1) + "\r\n").Send("+OK\r\n" + mail + ".\r\n");
    }
    return peer.Expect("QUIT\r\n").Send("+OK bye\r\n");
}

std::size_t FilesIn(const std::string& folder) {
    std::error_code ignored;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ignored);
         it != std::filesystem::directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

// A listing on a cache that holds every mail.
ScriptedPeer& CachedListing(ScriptedPeer& peer) {
    return ListingUntilUidl(peer).Send(UidlReply()).Expect("QUIT\r\n").Send("+OK bye\r\n");
}

// The window on one account at the peer, due for a check every minute, and
// a second account elsewhere.
struct CheckedWindow {
    explicit CheckedWindow(const ScriptedPeer& peer) {
        rig.AddAccount("1 shown", "alice", "127.0.0.1:" + std::to_string(peer.port()), "secret");
        rig.AddAccount("2 other", "bob", "127.0.0.1:1", "secret");
        EXPECT_TRUE(SetCheckInterval(rig.profile(), "1 shown", 1));
        CMainFrame& frame = rig.Open();
        EXPECT_TRUE(test::PumpUntil([&] { return frame.GetSelectedAccountName() == "1 shown"; }));
        now = CheckClock::now();
        frame.Checker().SetClock([this] { return now; });
    }
    testing::AssertionResult StartCheck() {
        now += std::chrono::minutes(1);
        Checker().Tick();
        return Checker().Checking() ? testing::AssertionSuccess() : testing::AssertionFailure() << "no check";
    }
    CMainFrame& Frame() { return *rig.frame; }
    MailChecker& Checker() { return rig.frame->Checker(); }
    // No check, none winding down, nothing held, no operation.
    bool Settled() { return Checker().Quiet() && !Checker().Holding() && !Frame().OperationRunning(); }
    bool CacheBusy() const {
        return CacheLock::TryAcquire("1 shown", rig.DataFolder()).state() == CacheLock::State::kBusy;
    }

    FrameRig rig;
    CheckClock::time_point now{};
};

// The user acts while the check waits for its UIDL reply in the middle of
// the listing, holding the account's cache. The user's listing is never
// turned away, runs once, and never beside the check.
TEST(MailCheckerHold, TheUsersListingWaitsForTheCheckInTheMiddleOfItsListing) {
    struct Case {
        const char* what;
        std::function<void(CheckedWindow&)> act;
        // After the stopped check: the user's listing and the check again
        // (the cache then holds every mail), or only the check, or nothing.
        enum { kUserThenCheck, kCheckOnly, kNothing } after;
    };
    const std::vector<Case> cases = {
        {"F5", [](CheckedWindow& w) { w.Frame().OnReceive(); }, Case::kUserThenCheck},
        {"F5 twice: one listing",
         [](CheckedWindow& w) {
             w.Frame().OnReceive();
             w.Frame().OnReceive();
         },
         Case::kUserThenCheck},
        {"F5, then another account: nothing for the rows that are gone",
         [](CheckedWindow& w) {
             w.Frame().OnReceive();
             w.rig.Combo()->setFocus();
             QTest::keyClick(w.rig.Combo(), Qt::Key_Down);
         },
         Case::kCheckOnly},
        {"F5, then the window closed: nothing starts after",
         [](CheckedWindow& w) {
             w.Frame().OnReceive();
             EXPECT_TRUE(w.Frame().close());
         },
         Case::kNothing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer;
        ListingUntilUidl(peer).Hold();
        if (c.after == Case::kUserThenCheck) {
            CachedListing(WholeListing(peer.Accept()).Accept());
        } else if (c.after == Case::kCheckOnly) {
            WholeListing(peer.Accept());
        }
        peer.Start();
        CheckedWindow w(peer);

        // The user's clicks come while the check's listing waits, from
        // beneath it, as they do in the program.
        bool acted = false;
        bool cacheBusy = false;
        bool overlapped = false;
        QTimer user;
        user.setInterval(1);
        QObject::connect(&user, &QTimer::timeout, [&] {
            overlapped = overlapped || (w.Checker().Checking() && w.Frame().OperationRunning());
            if (acted || peer.Received(0).find("UIDL\r\n") == std::string::npos) {
                return;
            }
            acted = true;
            cacheBusy = w.CacheBusy();
            c.act(w);
            peer.Release();
        });
        user.start();
        ASSERT_TRUE(w.StartCheck());
        ASSERT_TRUE(test::PumpUntil([&] { return acted && w.Settled(); }));
        EXPECT_TRUE(cacheBusy) << "the check did not hold the cache when the user came";
        EXPECT_EQ(w.rig.prompt.Count(), 0u) << "the user's listing was turned away";
        if (c.after == Case::kUserThenCheck) {
            EXPECT_EQ(peer.connections(), 2u);
            EXPECT_EQ(w.Frame().List().RowCount(), 3);
            const QString done = Cp932ToQString(LoadString(IDS_STATUS_LIST_DONE));
            EXPECT_TRUE(test::PumpUntil([&] { return w.Frame().PaneText(3) == done; }))
                << w.Frame().PaneText(3).toStdString();
            // The stopped check runs again, and tells no mail the user has
            // listed as new.
            w.Checker().Tick();
        }
        ASSERT_TRUE(
            test::PumpUntil([&] { return w.Settled() && peer.WaitDone(std::chrono::milliseconds(0)); }));
        user.stop();
        EXPECT_FALSE(overlapped) << "the user's listing ran beside the check";
        EXPECT_EQ(w.rig.prompt.Count(), 0u);
        EXPECT_EQ(w.Checker().TotalNew(), c.after == Case::kCheckOnly ? 3 : 0);
        peer.Check(false);
        w.rig.frame.reset();
    }
}

// Saving during the check's listing: the save is held (its wait could
// never end beneath the check) and made once the check is gone; a drop,
// which needs its files at once, is refused and is not taken for the last
// save's success.
TEST(MailCheckerHold, ASaveIsHeldForTheCheckAndADropIsRefused) {
    ScriptedPeer peer;
    WholeListing(peer);                      // the user's F5
    SaveAll(peer.Accept());                  // a first save
    ListingUntilUidl(peer.Accept()).Hold();  // the check
    SaveAll(peer.Accept());                  // the save made during the check
    CachedListing(peer.Accept());            // the check again
    peer.Start();
    CheckedWindow w(peer);
    CMainFrame& frame = w.Frame();
    frame.OnReceive();
    ASSERT_TRUE(test::PumpUntil([&] { return frame.List().RowCount() == 3 && !frame.OperationRunning(); }));
    for (int row = 0; row < 3; ++row) {
        frame.List().SetSelected(row, true);
    }
    const std::string first = w.rig.Folder().Sub("first");
    const std::string second = w.rig.Folder().Sub("second");
    const std::string dropped = w.rig.Folder().Sub("dropped");
    for (const std::string& folder : {first, second, dropped}) {
        std::filesystem::create_directories(folder);
    }
    frame.SetFolderAsker([&](const std::string&) { return first; });
    frame.OnSaveSelected();
    ASSERT_EQ(FilesIn(first), 3u);

    bool acted = false;
    bool dropWentAhead = true;
    std::size_t savedAtOnce = 0;
    QTimer user;
    user.setInterval(1);
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (acted || peer.Received(2).find("UIDL\r\n") == std::string::npos) {
            return;
        }
        acted = true;
        dropWentAhead = frame.RetrieveForDrop(dropped + "/");
        frame.SetFolderAsker([&](const std::string&) { return second; });
        frame.OnSaveSelected();
        savedAtOnce = FilesIn(second);
        peer.Release();
    });
    user.start();
    ASSERT_TRUE(w.StartCheck());
    ASSERT_TRUE(test::PumpUntil([&] { return acted && w.Settled(); }));
    EXPECT_FALSE(dropWentAhead);
    EXPECT_EQ(FilesIn(dropped), 0u);
    EXPECT_EQ(savedAtOnce, 0u) << "the save ran beneath the check";
    EXPECT_EQ(FilesIn(second), 3u);
    w.Checker().Tick();
    ASSERT_TRUE(test::PumpUntil([&] { return w.Settled() && peer.WaitDone(std::chrono::milliseconds(0)); }));
    EXPECT_EQ(w.rig.prompt.Count(), 0u);
    peer.Check(false);
}

// The window goes while the user's listing waits for a check that is still
// logging in on its worker: the check is stopped and waited for, nothing
// held starts, nothing is left to call into what is gone.
TEST(MailCheckerHold, TheWindowGoesWhileTheUsersListingWaits) {
    ScriptedPeer peer;
    Login(peer).Hold();
    peer.Start();
    {
        CheckedWindow w(peer);
        ASSERT_TRUE(w.StartCheck());
        ASSERT_TRUE(test::PumpUntil([&] { return peer.Received(0).find("PASS") != std::string::npos; }));
        w.Frame().OnReceive();
        EXPECT_TRUE(w.Checker().Holding());
        w.rig.frame.reset();
        // Whatever was posted before finds nobody.
        QCoreApplication::processEvents();
    }
    peer.Release();
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_EQ(peer.connections(), 1u);
    peer.Check(false);
}

// F5 while the check still logs in on its worker: the listing starts once
// the check is gone, and the stopped check is told as no failure.
TEST(MailCheckerHold, TheUsersListingWaitsForACheckThatIsLoggingIn) {
    ScriptedPeer peer;
    Login(peer).Hold();
    CachedListing(WholeListing(peer.Accept()).Accept());  // the user's listing, the check again
    peer.Start();
    CheckedWindow w(peer);
    ASSERT_TRUE(w.StartCheck());
    ASSERT_TRUE(test::PumpUntil([&] { return peer.Received(0).find("PASS") != std::string::npos; }));
    w.Frame().OnReceive();
    EXPECT_TRUE(w.Checker().Holding());
    EXPECT_FALSE(w.Frame().OperationRunning());
    peer.Release();
    ASSERT_TRUE(test::PumpUntil([&] { return w.Settled() && peer.connections() == 2; }));
    EXPECT_EQ(w.Frame().List().RowCount(), 3);
    w.Checker().Tick();
    ASSERT_TRUE(test::PumpUntil([&] { return w.Settled() && peer.WaitDone(std::chrono::milliseconds(0)); }));
    EXPECT_EQ(w.rig.prompt.Count(), 0u);
    EXPECT_FALSE(w.Checker().ToolTipText().contains(QStringLiteral("受信できません")))
        << w.Checker().ToolTipText().toStdString();
    EXPECT_FALSE(w.Frame().PaneText(3).contains(QStringLiteral("自動受信に失敗しました")))
        << w.Frame().PaneText(3).toStdString();
    peer.Check(false);
}

}  // namespace
}  // namespace wp
