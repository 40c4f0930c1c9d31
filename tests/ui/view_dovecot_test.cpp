// Reading mail in the real window: the view command, the viewer stepping
// through the list, a mail gone from the server, a large mail stopped while
// it arrives, and the viewer or the window closed during a fetch. Against
// the test Dovecot and, where the server must misbehave, a scripted one.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "accounts/account_files.h"
#include "frame_rig.h"
#include "mail/index_record.h"
#include "mail/mailbox_files.h"
#include "platform/string_table.h"
#include "support/dovecot.h"
#include "support/scripted_peer.h"
#include "ui/command_ids.h"
#include "ui/mail_text_view.h"
#include "ui/mail_view_dlg.h"
#include "ui/message_list_view.h"

namespace wp {
namespace {

using test::FrameRig;
using test::Shown;

QString Status(int id) {
    return Cp932ToQString(LoadString(id));
}

std::string DemoMail(const char* name) {
    std::ifstream in(std::string(WRENPOST_SOURCE_DIR) + "/scripts/demo-mail/alice/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

CMailViewDlg* Viewer(CMainFrame& frame) {
    return dynamic_cast<CMailViewDlg*>(frame.Viewer());
}

QString ShownText(CMainFrame& frame) {
    CMailViewDlg* viewer = Viewer(frame);
    return viewer != nullptr
               ? static_cast<CMailTextView*>(viewer->Control(CMailViewDlg::kText))->toPlainText()
               : QString();
}

bool WaitIdle(CMainFrame& frame) {
    return test::PumpUntil([&] { return frame.Engine().receiving == 0; }, std::chrono::seconds(60));
}

class ViewDovecot : public test::DovecotMailboxTest {
protected:
    CMainFrame& OpenAndList(FrameRig& rig) {
        rig.AddAccount("Dovecot " + user_.name(), user_.name(), ServerText(), user_.password());
        CMainFrame& frame = rig.Open();
        EXPECT_TRUE(test::PumpUntil([&] { return !rig.PasswordBox()->text().isEmpty(); }));
        frame.OnReceive();
        EXPECT_TRUE(WaitIdle(frame));
        QCoreApplication::processEvents();
        return frame;
    }
};

TEST_F(ViewDovecot, TheViewerShowsTheDemoMailsAndStepsThroughThemOnOneLogin) {
    ASSERT_TRUE(test::FillMailbox(
        user_.name(),
        {DemoMail("01-meeting.eml"), DemoMail("03-maintenance-sjis.eml"), DemoMail("07-estimate-pdf.eml")}));
    FrameRig rig;
    CMainFrame& frame = OpenAndList(rig);
    ASSERT_EQ(frame.List().RowCount(), 3);

    // A double click on a row opens it.
    auto* list = static_cast<CTarnpostView*>(frame.ListWidget());
    const QRect first = list->visualRect(list->model()->index(0, 3));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first.center());
    ASSERT_NE(Viewer(frame), nullptr);
    ASSERT_TRUE(WaitIdle(frame));
    QCoreApplication::processEvents();
    CMailViewDlg* viewer = Viewer(frame);
    EXPECT_EQ(viewer->windowTitle(), QString::fromUtf8("来週の定例会議について"));
    EXPECT_TRUE(ShownText(frame).startsWith(QString::fromUtf8("鈴木様\n"))) << ShownText(frame).toStdString();
    EXPECT_EQ(rig.PaneText(3), Status(IDS_STATUS_MESSAGE_DONE));
    EXPECT_EQ(frame.Engine().sessionAlive, 1) << "the login stays open after a view";
    EXPECT_TRUE(viewer->Command(CMailViewDlg::kSaveCommand)->isEnabled());
    EXPECT_EQ(static_cast<QProgressBar*>(viewer->Control(CMailViewDlg::kProgress))->value(), 13);

    // Next, twice: the Shift_JIS mail, then the one with an attachment.
    QTest::mouseClick(static_cast<QWidget*>(viewer->Control(CMailViewDlg::kNext)), Qt::LeftButton);
    ASSERT_TRUE(test::PumpUntil([&] { return frame.List().IsSelected(1) && frame.Engine().receiving == 0; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(ShownText(frame).startsWith(QString::fromUtf8("お客様各位\n")));
    EXPECT_EQ(rig.PaneText(3), Status(IDS_STATUS_MESSAGE_DONE));
    viewer->Command(CMailViewDlg::kNext)->trigger();
    ASSERT_TRUE(test::PumpUntil([&] { return frame.List().IsSelected(2) && frame.Engine().receiving == 0; }));
    QCoreApplication::processEvents();
    auto* files = static_cast<QListWidget*>(viewer->Control(CMailViewDlg::kAttachmentList));
    ASSERT_EQ(files->count(), 1);
    EXPECT_EQ(files->item(0)->text(), QString::fromUtf8("見積書_2025年4月.pdf"));
    EXPECT_FALSE(frame.List().IsSelected(0));

    // Closed and opened again: where it was, and its mail file gone.
    const std::string stored = viewer->MailFile().Path();
    viewer->move(60, 40);
    viewer->resize(520, 380);
    QTest::keyClick(viewer, Qt::Key_Escape);
    ASSERT_TRUE(test::PumpUntil([&] { return frame.Viewer() == nullptr; }));
    EXPECT_FALSE(std::filesystem::exists(stored));
    frame.Action(ID_MAIL_VIEW)->trigger();
    ASSERT_NE(Viewer(frame), nullptr);
    EXPECT_EQ(Viewer(frame)->pos(), QPoint(60, 40));
    EXPECT_EQ(Viewer(frame)->size(), QSize(520, 380));
    ASSERT_TRUE(WaitIdle(frame));
}

TEST_F(ViewDovecot, AMailDeletedElsewhereIsReportedAndItsRowStays) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: one\n\nfirst\n", "Subject: two\n\nsecond\n"}));
    FrameRig rig;
    CMainFrame& frame = OpenAndList(rig);
    ASSERT_EQ(frame.List().RowCount(), 2);
    // Another client replaced the whole mailbox: no id of ours is there.
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: new\n\nnew\n"}));
    frame.List().SetSelected(1, true);
    frame.Action(ID_MAIL_VIEW)->trigger();
    ASSERT_TRUE(WaitIdle(frame));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.PaneText(3), Status(IDS_STATUS_MESSAGE_NOT_FOUND));
    auto* sizeBox = static_cast<QLineEdit*>(Viewer(frame)->Control(CMailViewDlg::kSizeBox));
    EXPECT_EQ(sizeBox->text(), Shown("ﾒｰﾙｻｰﾊﾞに見つかりません"));
    EXPECT_EQ(ShownText(frame), QString());
    EXPECT_EQ(frame.List().RowCount(), 2);
    EXPECT_FALSE(Viewer(frame)->Command(CMailViewDlg::kSaveCommand)->isEnabled());
}

// The account's cache as a listing of one large mail left it.
void WriteBigMailCache(const std::string& dataFolder, const std::string& account) {
    AccountFilePaths paths = AccountCacheFiles(account, dataFolder);
    const std::string block = "+OK\r\nSubject: big\r\n\r\n.\r\n";
    IndexRecord record;
    record.seq = record.msgNo = 1;
    record.size = 5 << 20;
    record.headerLength = static_cast<std::int32_t>(block.size());
    SetUid(record, "uid-big");
    IndexRecordBytes bytes = EncodeIndexRecord(record);
    std::ofstream(paths.index, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::ofstream(paths.header, std::ios::binary) << block;
}

std::string BigReply() {
    std::string mail = "Subject: big\r\n\r\n";
    while (mail.size() < (5u << 20)) {
        mail += "a line of a large mail, sent slowly\r\n";
    }
    return "+OK " + std::to_string(mail.size()) + " octets\r\n" + mail + ".\r\n";
}

test::ScriptedPeer& LoginAndFetchUntilRetr(test::ScriptedPeer& peer) {
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("+OK\r\n");
    peer.Expect("NOOP\r\n").Send("+OK\r\n").Expect("STAT\r\n").Send("+OK 1 5242880\r\n");
    peer.Expect("LIST\r\n")
        .Send("+OK\r\n1 5242880\r\n.\r\n")
        .Expect("UIDL\r\n")
        .Send("+OK\r\n1 uid-big\r\n.\r\n");
    // Paced, so that a stop is seen with the next piece.
    return peer.Expect("RETR 1\r\n")
        .Send(BigReply(), test::Pieces::Every(16384, std::chrono::milliseconds(2)));
}

struct BigMailRig {
    explicit BigMailRig(test::ScriptedPeer& peer) {
        rig.AddAccount("big", "alice", "127.0.0.1:" + std::to_string(peer.port()), "secret");
        WriteBigMailCache(rig.DataFolder(), "big");
        rig.Open();
        EXPECT_TRUE(test::PumpUntil([&] { return rig.frame->List().RowCount() == 1; }));
        rig.frame->List().SetSelected(0, true);
    }
    CMainFrame& Frame() { return *rig.frame; }
    // Starts the view and waits until part of the mail is on screen.
    bool ViewUntilPartShown() {
        Frame().Action(ID_MAIL_VIEW)->trigger();
        return test::PumpUntil([&] { return ShownText(Frame()).size() > 1000; });
    }
    FrameRig rig;
};

TEST(ViewScripted, AFiveMegabyteMailShowsGrowingTextAndCanBeStopped) {
    test::ScriptedPeer peer;
    LoginAndFetchUntilRetr(peer);
    peer.Start();
    BigMailRig big(peer);
    CMainFrame& frame = big.Frame();
    ASSERT_TRUE(big.ViewUntilPartShown());
    CMailViewDlg* viewer = Viewer(frame);
    auto* progress = static_cast<QProgressBar*>(viewer->Control(CMailViewDlg::kProgress));
    auto* sizeBox = static_cast<QLineEdit*>(viewer->Control(CMailViewDlg::kSizeBox));
    EXPECT_TRUE(sizeBox->text().endsWith(QStringLiteral("/5.0Mbyte"))) << sizeBox->text().toStdString();
    const qsizetype early = ShownText(frame).size();
    ASSERT_TRUE(test::PumpUntil([&] { return ShownText(frame).size() > early; })) << "the text grows";
    EXPECT_FALSE(viewer->Control(CMailViewDlg::kNext)->isEnabled());

    QTest::mouseClick(static_cast<QWidget*>(viewer->Control(CMailViewDlg::kCancel)), Qt::LeftButton);
    ASSERT_TRUE(WaitIdle(frame));
    QCoreApplication::processEvents();
    EXPECT_EQ(big.rig.PaneText(3), Status(IDS_STATUS_MESSAGE_PARTIAL));
    EXPECT_LT(progress->value(), 13);
    EXPECT_FALSE(ShownText(frame).isEmpty()) << "what arrived stays";
    EXPECT_EQ(frame.Engine().sessionAlive, 0);
    EXPECT_TRUE(viewer->Control(CMailViewDlg::kNext)->isEnabled());
    EXPECT_FALSE(viewer->Control(CMailViewDlg::kCancel)->isEnabled());
    EXPECT_TRUE(peer.WaitClosed()) << "the connection is closed";
    peer.Stop();
    EXPECT_EQ(peer.Received(0).find("QUIT"), std::string::npos) << "without QUIT";
    peer.TakeFailures();
}

// A refused password closes the viewer and says why in a box.
TEST(ViewScripted, ARefusedLoginClosesTheViewer) {
    test::ScriptedPeer peer;
    peer.Greet().Expect("USER alice\r\n").Send("+OK\r\n").Expect("PASS secret\r\n").Send("-ERR no\r\n");
    peer.Expect("QUIT\r\n").Send("+OK\r\n");
    peer.Start();
    BigMailRig big(peer);
    PromptRequest box;
    box.text = LoadString(IDS_LOGIN_REFUSED);
    box.caption = Sjis("ｴﾗｰ");
    box.buttons = PromptButtons::Ok;
    box.icon = PromptIcon::Exclamation;
    big.rig.prompt.Expect(box, PromptAnswer::Ok);
    CMainFrame& frame = big.Frame();
    frame.Action(ID_MAIL_VIEW)->trigger();
    ASSERT_NE(frame.Viewer(), nullptr);
    ASSERT_TRUE(WaitIdle(frame));
    ASSERT_TRUE(test::PumpUntil([&] { return frame.Viewer() == nullptr; }));
    EXPECT_EQ(big.rig.prompt.Pending(), 0u);
    peer.Check();
}

// Closing the viewer while its mail arrives stops the fetch, and nothing is
// written into the closed viewer: under AddressSanitizer a write into a
// destroyed viewer would end the test.
TEST(ViewScripted, ClosingTheViewerDuringAFetchStopsIt) {
    test::ScriptedPeer peer;
    LoginAndFetchUntilRetr(peer);
    peer.Start();
    BigMailRig big(peer);
    CMainFrame& frame = big.Frame();
    ASSERT_TRUE(big.ViewUntilPartShown());
    QPointer<CMailViewDlg> viewer = Viewer(frame);
    viewer->close();
    EXPECT_EQ(frame.Viewer(), nullptr);
    ASSERT_TRUE(WaitIdle(frame));
    ASSERT_TRUE(test::PumpUntil([&] { return viewer.isNull(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(big.rig.PaneText(3), Status(IDS_STATUS_MESSAGE_PARTIAL));
    EXPECT_FALSE(std::filesystem::exists(frame.Engine().Mailbox()->emlPath));
    EXPECT_TRUE(peer.WaitClosed());
    peer.Stop();
    peer.TakeFailures();
}

// Closing the window during a fetch waits for the fetch to end.
TEST(ViewScripted, ClosingTheWindowDuringAFetchWaitsForIt) {
    test::ScriptedPeer peer;
    LoginAndFetchUntilRetr(peer);
    peer.Start();
    BigMailRig big(peer);
    CMainFrame& frame = big.Frame();
    ASSERT_TRUE(big.ViewUntilPartShown());
    frame.close();
    EXPECT_TRUE(frame.isVisible()) << "the window waits for the fetch";
    ASSERT_TRUE(test::PumpUntil([&] { return !frame.isVisible(); }));
    EXPECT_EQ(frame.Engine().receiving, 1) << "nothing starts once the window is closing";
    big.rig.Close();
    peer.Stop();
    peer.TakeFailures();
}

}  // namespace
}  // namespace wp
