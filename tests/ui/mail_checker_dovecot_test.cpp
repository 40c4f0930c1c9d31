// The window's checks by themselves against the test Dovecot, on a clock the
// test moves, with a recorded tray (the offscreen platform has none).
#include <gtest/gtest.h>

#include <QTest>
#include <string>
#include <vector>

#include "accounts/check_interval.h"
#include "frame_rig.h"
#include "support/dovecot.h"
#include "ui/mail_checker.h"

namespace wp {
namespace {

using test::FrameRig;

struct RecordedTray final : TraySurface {
    struct Notice {
        QString title;
        QString text;
    };
    void SetCount(int value) override { count = value; }
    void SetToolTip(const QString& text) override { toolTip = text; }
    void ShowNotice(const QString& title, const QString& text) override { notices.push_back({title, text}); }
    int count = 0;
    QString toolTip;
    std::vector<Notice> notices;
};

std::string Mail(const std::string& from, const std::string& subject) {
    return "From: " + from + "\nSubject: " + subject + "\nDate: Mon, 7 Mar 2005 09:05:00 +0900\n\nbody\n";
}

class MailCheckerDovecot : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = test::FindDovecot();
        ASSERT_TRUE(server_) << server_.error;
        shown_ = test::LeaseUser();
        ASSERT_TRUE(shown_) << shown_.error();
        other_ = test::LeaseUser();
        ASSERT_TRUE(other_) << other_.error();
    }

    std::string ServerText() const { return server_.host + ":" + std::to_string(server_.port); }

    // The window with a recorded tray and the test's clock.
    MailChecker& Open(FrameRig& rig) {
        CMainFrame& frame = rig.Open();
        EXPECT_TRUE(test::PumpUntil([&] { return !frame.GetSelectedAccountName().empty(); }));
        MailChecker& checker = frame.Checker();
        auto tray = std::make_unique<RecordedTray>();
        tray_ = tray.get();
        checker.SetSurface(std::move(tray));
        now_ = CheckClock::now();
        checker.SetClock([this] { return now_; });
        return checker;
    }

    // Moves the clock on and waits until every check that became due has run.
    void Pass(MailChecker& checker, std::chrono::seconds by) {
        now_ += by;
        checker.Tick();
        EXPECT_TRUE(test::PumpUntil([&] { return !checker.Checking(); }));
    }

    test::DovecotServer server_;
    test::DovecotUserLease shown_;
    test::DovecotUserLease other_;
    RecordedTray* tray_ = nullptr;
    CheckClock::time_point now_{};
};

TEST_F(MailCheckerDovecot, DueAccountsAreCheckedAndNewMailIsCountedAndTold) {
    ASSERT_TRUE(test::FillMailbox(shown_.name(), {Mail("a@example.jp", "first")}));
    ASSERT_TRUE(test::FillMailbox(other_.name(), {Mail("b@example.jp", "elsewhere")}));
    FrameRig rig;
    rig.AddAccount("1 shown", shown_.name(), ServerText(), shown_.password());
    rig.AddAccount("2 other", other_.name(), ServerText(), other_.password());
    ASSERT_TRUE(SetCheckInterval(rig.profile(), "1 shown", 1));
    ASSERT_TRUE(SetCheckInterval(rig.profile(), "2 other", 1));
    MailChecker& checker = Open(rig);
    CMainFrame& frame = *rig.frame;
    ASSERT_EQ(frame.GetSelectedAccountName(), "1 shown");

    Pass(checker, std::chrono::seconds(59));
    EXPECT_TRUE(tray_->notices.empty()) << "checked before the interval";
    // Both are due at once: one after the other.
    Pass(checker, std::chrono::seconds(1));
    ASSERT_TRUE(test::PumpUntil([&] { return tray_->notices.size() == 2 && !checker.Checking(); }));
    EXPECT_EQ(tray_->notices[0].title, QStringLiteral("新着メール 1 件"));
    EXPECT_EQ(checker.NewCount("1 shown"), 1);
    EXPECT_EQ(checker.NewCount("2 other"), 1);
    EXPECT_EQ(tray_->count, 2);
    // The shown account's rows are those a listing leaves.
    EXPECT_TRUE(test::PumpUntil([&] { return frame.List().RowCount() == 1; }));

    ASSERT_TRUE(
        test::DeliverMail(shown_.name(), {Mail("c@example.jp", "second"), Mail("d@example.jp", "third")}));
    Pass(checker, std::chrono::minutes(1));
    ASSERT_TRUE(test::PumpUntil([&] { return tray_->notices.size() == 3 && !checker.Checking(); }));
    const RecordedTray::Notice& notice = tray_->notices.back();
    EXPECT_EQ(notice.title, QStringLiteral("新着メール 2 件"));
    EXPECT_TRUE(notice.text.contains(QStringLiteral("c@example.jp")) &&
                notice.text.contains(QStringLiteral("third")))
        << notice.text.toStdString();
    EXPECT_FALSE(notice.text.contains(QStringLiteral("first"))) << "a mail the cache held was told as new";
    EXPECT_EQ(checker.NewCount("1 shown"), 3);
    EXPECT_TRUE(tray_->toolTip.contains(QStringLiteral("1 shown: 新着 3 件"))) << tray_->toolTip.toStdString();
    EXPECT_TRUE(test::PumpUntil([&] { return frame.List().RowCount() == 3; }));
    EXPECT_EQ(rig.prompt.Count(), 0u);

    // A click on the icon brings the window up and starts the counts again.
    checker.Activate();
    EXPECT_EQ(tray_->count, 0);
    EXPECT_TRUE(frame.isVisible());
}

TEST_F(MailCheckerDovecot, AFailingServerIsToldOnceAndNeverInABox) {
    FrameRig rig;
    rig.AddAccount("refused", shown_.name(), ServerText(), "wrong password");
    ASSERT_TRUE(SetCheckInterval(rig.profile(), "refused", 2));
    MailChecker& checker = Open(rig);
    CMainFrame& frame = *rig.frame;

    Pass(checker, std::chrono::minutes(2));
    EXPECT_TRUE(frame.PaneText(3).contains(QStringLiteral("自動受信に失敗しました")))
        << frame.PaneText(3).toStdString();
    EXPECT_TRUE(tray_->toolTip.contains(QStringLiteral("受信できません"))) << tray_->toolTip.toStdString();
    EXPECT_EQ(rig.prompt.Count(), 0u) << "a check by itself showed a box";

    frame.SetPaneText(3, std::string());
    Pass(checker, std::chrono::minutes(1));
    Pass(checker, std::chrono::minutes(1));
    EXPECT_TRUE(frame.PaneText(3).isEmpty())
        << "the same failure was told again: " << frame.PaneText(3).toStdString();
    EXPECT_EQ(rig.prompt.Count(), 0u);
    EXPECT_TRUE(tray_->notices.empty());
}

TEST_F(MailCheckerDovecot, AnAccountWithoutASavedPasswordIsSkippedWithoutAsking) {
    FrameRig rig;
    rig.AddAccount("nopw", shown_.name(), ServerText(), "", /*savePassword=*/false);
    ASSERT_TRUE(SetCheckInterval(rig.profile(), "nopw", 1));
    MailChecker& checker = Open(rig);
    Pass(checker, std::chrono::minutes(1));
    EXPECT_TRUE(rig.frame->PaneText(3).contains(QStringLiteral("パスワードが保存されていない")))
        << rig.frame->PaneText(3).toStdString();
    EXPECT_EQ(rig.prompt.Count(), 0u);
}

}  // namespace

// Closing the window: kept in the tray only when the user chose it and a
// tray is there.
TEST(MailCheckerClose, TheCloseButtonKeepsTheProgramInTheTrayOnlyWhenChosen) {
    struct Case {
        bool tray;
        bool keep;
        bool hiddenNotClosed;
    } cases[] = {{true, true, true}, {true, false, false}, {false, true, false}};
    for (const Case& c : cases) {
        test::FrameRig rig;
        ASSERT_TRUE(SetKeepInTrayOnClose(rig.profile(), c.keep));
        CMainFrame& frame = rig.Open();
        frame.Checker().SetSurface(c.tray ? std::make_unique<RecordedTray>() : nullptr);
        const bool closed = frame.close();
        EXPECT_EQ(!closed, c.hiddenNotClosed) << "tray " << c.tray << " keep " << c.keep;
        EXPECT_FALSE(frame.isVisible());
        QGuiApplication::setQuitOnLastWindowClosed(true);
    }
}

}  // namespace wp
