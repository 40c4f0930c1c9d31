// The main window against the test Dovecot: a listing from F5 to the filled
// list, its cancel, and the exit during a listing.

#include <gtest/gtest.h>

#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "frame_rig.h"
#include "platform/string_table.h"
#include "support/dovecot.h"
#include "ui/command_ids.h"

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
            std::string mail = "From: =?ISO-2022-JP?B?GyRCOjRGIxsoQg==?= <sato" + std::to_string(i) +
                               "@example.jp>\n"
                               "Subject: =?ISO-2022-JP?B?GyRCJCIkJCQmJCgkKhsoQg==?= " +
                               std::to_string(i) + "\nDate: Mon, 7 Mar 2005 09:05:00 +0900\n";
            if (i == 2) {
                mail +=
                    "MIME-Version: 1.0\nContent-Type: multipart/mixed; "
                    "boundary=\"b\"\n\n--b\n\nbody\n--b--\n";
            } else {
                mail += "\nbody\n";
            }
            mails.push_back(mail);
        }
        ASSERT_TRUE(test::FillMailbox(user_.name(), mails));
    }

    CMainFrame& Open(FrameRig& rig) {
        rig.AddAccount("Dovecot " + user_.name(), user_.name(),
                       server_.host + ":" + std::to_string(server_.port), user_.password());
        CMainFrame& frame = rig.Open();
        EXPECT_TRUE(test::PumpUntil([&] { return !rig.PasswordBox()->text().isEmpty(); }));
        frame.resize(900, 420);
        frame.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
        return frame;
    }

    static QString ReceiveButtonText(CMainFrame& frame) {
        auto* button =
            qobject_cast<QToolButton*>(frame.ToolBar()->widgetForAction(frame.Action(ID_MAIL_RECEIVE)));
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
    EXPECT_TRUE(rig.PaneText(0).startsWith(QString::fromUtf8("2件のﾒｰﾙを選択")))
        << rig.PaneText(0).toStdString();

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

// The demo's own mailbox (scripts/demo-mail/alice) as the demo serves it:
// every mail gets a readable row, whatever its encoding.
TEST_F(MainFrameDovecot, DemoMailboxListsEveryMailReadably) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(WRENPOST_SOURCE_DIR "/scripts/demo-mail/alice")) {
        if (entry.path().extension() == ".eml") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 20u);
    std::vector<std::string> mails;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        mails.push_back(bytes.str());
    }
    ASSERT_TRUE(test::FillMailbox(user_.name(), mails));

    FrameRig rig;
    CMainFrame& frame = Open(rig);
    frame.resize(1000, 560);
    QTest::keyClick(&frame, Qt::Key_F5);
    ASSERT_TRUE(test::PumpUntil([&] { return frame.Engine().receiving == 0; }, std::chrono::seconds(60)));
    QCoreApplication::processEvents();
    ASSERT_EQ(frame.List().RowCount(), static_cast<int>(mails.size()));
    EXPECT_EQ(rig.PaneText(3), Status(IDS_STATUS_LIST_DONE));

    struct Row {
        int row;
        const char* kind;
        const char* subject;
        const char* from;  // a part of the sender
        int hasParts;
    } rows[] = {
        {0, "ISO-2022-JP B words", "来週の定例会議について", "山田 太郎", 0},
        {1, "Q words", "Re: 見積書の件", "佐藤 花子", 0},
        {2, "Shift_JIS body", "【重要】サーバーメンテナンスのお知らせ（4/20 深夜）",
         "ネットワーク運用センター", 0},
        {3, "EUC-JP body", "研究室の飲み会（EUC-JP で送っています）", "加藤 一郎", 0},
        {4, "quoted-printable JIS", "ご注文ありがとうございます（注文番号 A-20250415-0042）",
         "オンラインストア", 0},
        {5, "raw Shift_JIS header, half-width kana", "ﾃｽﾄ送信です（半角ｶﾅ）", "ﾀﾅｶ ﾀﾛｳ", 0},
        {6, "attachment", "見積書をお送りします", "鈴木 一郎", 1},
        {7, "two images", "桜の写真です", "美香", 1},
        {8, "ASCII, UTC", "[wrenpost] Weekly digest: 12 issues closed", "Project Updates", 0},
        {10, "folded long subject",
         "【ご案内】2025年度 新入社員研修プログラムの実施要項、日程表、会場のご案内および"
         "事前課題の提出方法について（人事部より・必ずお読みください）",
         "人事部 研修担当", 0},
        {15, "mixed words", "Photos from Kyoto / 京都の写真", "Maria Garcia", 1},
        {16, "raw JIS header", "古いメーラーから送った件名です", "小林", 0},
        {19, "no subject", "", "母", 0},
    };
    // A blank between two encoded words stays, so a folded subject shows one
    // at each fold: the words are compared without their blanks.
    auto words = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
        return text;
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.kind);
        const MailEntry* entry = frame.List().RowEntry(r.row);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(words(Cp932ToUtf8(entry->subject)), words(r.subject));
        EXPECT_NE(Cp932ToUtf8(entry->from).find(r.from), std::string::npos) << Cp932ToUtf8(entry->from);
        EXPECT_EQ(entry->hasParts, r.hasParts);
    }
    for (int row = 0; row < frame.List().RowCount(); ++row) {
        EXPECT_EQ(frame.List().RowEntry(row)->date.rfind("2025/04/", 0), 0u) << "row " << row;
    }
    frame.List().SetSelected(7, true);
    QCoreApplication::processEvents();
    const QString shot = test::ScreenshotPath("demo_listing.png");
    EXPECT_TRUE(frame.grab().save(shot)) << shot.toStdString();
}

}  // namespace
}  // namespace wp
