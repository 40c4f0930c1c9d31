// The main window against the test Dovecot: a listing from F5 to the filled
// list, its cancel, and the exit during a listing.

#include "frame_rig.h"
#include "platform/string_table.h"
#include "support/dovecot.h"
#include "ui/command_ids.h"

#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

namespace wp {
namespace {

using test::FrameRig;
using test::Shown;

QString Status(int id) {
    return Cp932ToQString(LoadString(id));
}

class MainFrameDovecot : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = test::FindDovecot();
        ASSERT_TRUE(server_) << server_.error;
        user_ = test::LeaseUser();
        ASSERT_TRUE(user_) << user_.error();
    }

    // Japanese mails as they arrive: ISO-2022-JP encoded words, one with parts.
    void Fill(int count) {
        std::vector<std::string> mails;
        for (int i = 1; i <= count; ++i) {
            std::string mail =
                "From: =?ISO-2022-JP?B?GyRCOjRGIxsoQg==?= <sato" + std::to_string(i) +
                "@example.jp>\n"
                "Subject: =?ISO-2022-JP?B?GyRCJCIkJCQmJCgkKhsoQg==?= " +
                std::to_string(i) + "\nDate: Mon, 7 Mar 2005 09:05:00 +0900\n";
            if (i == 2) {
                mail += "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n\nbody\n--b--\n";
            } else {
                mail += "\nbody\n";
            }
            mails.push_back(mail);
        }
        ASSERT_TRUE(test::FillMailbox(user_.name(), mails));
    }

    CMainFrame& Open(FrameRig& rig) {
        rig.AddAccount("Dovecot " + user_.name(), user_.name(), server_.host + ":" + std::to_string(server_.port),
                       user_.password());
        CMainFrame& frame = rig.Open();
        EXPECT_TRUE(test::PumpUntil([&] { return !rig.Bar().PasswordBox()->text().isEmpty(); }));
        frame.resize(900, 420);
        frame.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
        return frame;
    }

    static QString ReceiveButtonText(CMainFrame& frame) {
        auto* button = qobject_cast<QToolButton*>(frame.ToolBar()->widgetForAction(frame.Action(ID_MAIL_RECEIVE)));
        return button != nullptr ? button->text() : QString();
    }

    test::DovecotServer server_;
    test::DovecotUserLease user_;
};

TEST_F(MainFrameDovecot, ReceiveListsTheMailbox) {
    Fill(6);
    FrameRig rig;
    CMainFrame& frame = Open(rig);
    QTest::keyClick(&frame, Qt::Key_F5);

    // Running: the second image set, the cancel text of the command, no cache clearing.
    EXPECT_EQ(frame.Engine().receiving, 1);
    EXPECT_TRUE(frame.ShowsRunningImages());
    EXPECT_EQ(ReceiveButtonText(frame), Shown("中断"));
    EXPECT_EQ(frame.Action(ID_MAIL_RECEIVE)->text(), Shown("ﾒｰﾙ受信中断(&R)\tF5"));
    EXPECT_FALSE(frame.Action(ID_CLEAR_CACHE)->isEnabled());

    ASSERT_TRUE(test::PumpUntil([&] { return frame.Engine().receiving == 0; }, std::chrono::seconds(60)));
    QCoreApplication::processEvents();
    ASSERT_EQ(frame.List().RowCount(), 6);
    EXPECT_EQ(Cp932ToUtf8(frame.List().RowEntry(5)->subject), "あいうえお 6");
    EXPECT_NE(Cp932ToUtf8(frame.List().RowEntry(0)->from).find("佐藤 <sato1@example.jp>"), std::string::npos);
    EXPECT_EQ(frame.List().RowEntry(1)->hasParts, 1);
    EXPECT_EQ(rig.PaneText(3), Status(IDS_STATUS_LIST_DONE));
    EXPECT_EQ(rig.PaneText(1), QString::fromUtf8("6/6件中"));
    EXPECT_EQ(frame.windowTitle(), QString::fromStdString("Dovecot " + user_.name() + " - Wrenpost"));

    // Idle again: the first image set and the plain command.
    EXPECT_FALSE(frame.ShowsRunningImages());
    EXPECT_EQ(ReceiveButtonText(frame), Shown("受信"));
    EXPECT_EQ(frame.Action(ID_MAIL_RECEIVE)->text(), Shown("ﾒｰﾙ受信(&R)\tF5"));
    EXPECT_TRUE(frame.Action(ID_CLEAR_CACHE)->isEnabled());

    // A selection shows its count and size in pane 0.
    frame.List().SetSelected(0, true);
    frame.List().SetSelected(1, true);
    QCoreApplication::processEvents();
    EXPECT_TRUE(rig.PaneText(0).startsWith(QString::fromUtf8("2件のﾒｰﾙを選択"))) << rig.PaneText(0).toStdString();

    // For a person to look at.
    const QString shot = test::ScreenshotPath("main_frame_listing.png");
    EXPECT_TRUE(frame.grab().save(shot)) << shot.toStdString();
}

TEST_F(MainFrameDovecot, ReceiveTwiceCancels) {
    Fill(30);
    FrameRig rig;
    CMainFrame& frame = Open(rig);
    QTest::keyClick(&frame, Qt::Key_F5);
    EXPECT_TRUE(frame.ShowsRunningImages());
    QTest::keyClick(&frame, Qt::Key_F5);
    // Cancelled at once: the stop image goes; the operation still has to end.
    EXPECT_FALSE(frame.ShowsRunningImages());
    EXPECT_EQ(frame.Engine().Session().cancel, 1);
    EXPECT_EQ(frame.Engine().receiving, 1);
    EXPECT_EQ(frame.Action(ID_MAIL_RECEIVE)->text(), Shown("ﾒｰﾙ受信中断(&R)\tF5"));
    ASSERT_TRUE(test::PumpUntil([&] { return frame.Engine().receiving == 0; }, std::chrono::seconds(60)));
    QCoreApplication::processEvents();
    EXPECT_LT(frame.List().RowCount(), 30);
    EXPECT_NE(rig.PaneText(3), Status(IDS_STATUS_LIST_DONE));
    EXPECT_EQ(ReceiveButtonText(frame), Shown("受信"));
}

TEST_F(MainFrameDovecot, ExitOrCloseDuringAListingClosesWhenItHasEnded) {
    Fill(200);
    for (bool byCommand : {true, false}) {
        SCOPED_TRACE(byCommand ? "exit command" : "window closed");
        FrameRig rig;
        CMainFrame& frame = Open(rig);
        bool asked = false;
        bool openAfterAsking = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!asked && frame.List().RowCount() >= 3) {
                asked = true;
                if (byCommand) {
                    frame.Action(ID_WRENPOST_EXIT)->trigger();
                } else {
                    frame.close();
                }
                openAfterAsking = frame.isVisible();
            }
        });
        watch.start(1);
        QTest::keyClick(&frame, Qt::Key_F5);
        ASSERT_TRUE(test::PumpUntil([&] { return !frame.isVisible(); }, std::chrono::seconds(60)));
        watch.stop();
        EXPECT_TRUE(asked);
        EXPECT_TRUE(openAfterAsking) << "the window waits for the listing to end";
        EXPECT_EQ(frame.List().RowCount(), 0) << "the list is emptied as the window closes";
        EXPECT_EQ(frame.Engine().sessionAlive, 0);
    }
}

}  // namespace
}  // namespace wp
