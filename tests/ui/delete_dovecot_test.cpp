// The delete command in the window against the test Dovecot: marks set with
// the mark command, Ctrl+Del, the question, and the list and status after.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame_rig.h"
#include "platform/string_table.h"
#include "support/dovecot.h"
#include "ui/command_ids.h"

namespace wp {
namespace {

using test::FrameRig;

TEST(DeleteDovecot, CtrlDelDeletesTheMarkedRowsAfterTheQuestion) {
    auto server = test::FindDovecot();
    ASSERT_TRUE(server) << server.error;
    auto user = test::LeaseUser();
    ASSERT_TRUE(user) << user.error();
    std::vector<std::string> mails;
    for (int i = 1; i <= 5; ++i) {
        mails.push_back("From: a@example.jp\nSubject: mail " + std::to_string(i) + "\n\nbody\n");
    }
    ASSERT_TRUE(test::FillMailbox(user.name(), mails));

    FrameRig rig;
    rig.AddAccount("Dovecot " + user.name(), user.name(), server.host + ":" + std::to_string(server.port),
                   user.password());
    CMainFrame& frame = rig.Open();
    ASSERT_TRUE(test::PumpUntil([&] { return !rig.PasswordBox()->text().isEmpty(); }));
    frame.resize(900, 420);
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTest::keyClick(&frame, Qt::Key_F5);
    ASSERT_TRUE(test::PumpUntil([&] { return frame.Engine().receiving == 0; }, std::chrono::seconds(60)));
    ASSERT_EQ(frame.List().RowCount(), 5);

    frame.List().SetSelected(1, true);
    frame.List().SetSelected(2, true);
    frame.Action(ID_MARK)->trigger();
    ASSERT_EQ(frame.List().MarkImage(1), kImageMarked);
    ASSERT_EQ(frame.List().MarkImage(2), kImageMarked);

    PromptRequest box;
    box.text = LoadString(IDS_DELETE_MARKED_QUESTION);
    box.caption = LoadString(57344);
    box.buttons = PromptButtons::YesNo;
    box.icon = PromptIcon::Exclamation;
    box.defaultAnswer = PromptAnswer::No;
    rig.prompt.Expect(box, PromptAnswer::Yes);
    frame.FocusList();
    QTest::keyClick(&frame, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(rig.prompt.Count(), 1u);
    ASSERT_TRUE(test::PumpUntil([&] { return frame.Engine().receiving == 0; }, std::chrono::seconds(60)));
    QCoreApplication::processEvents();

    std::vector<std::string> subjects;
    for (int row = 0; row < frame.List().RowCount(); ++row) {
        subjects.push_back(Cp932ToUtf8(frame.List().RowEntry(row)->subject));
    }
    EXPECT_EQ(subjects, (std::vector<std::string>{"mail 1", "mail 4", "mail 5"}));
    EXPECT_EQ(rig.PaneText(3), Cp932ToQString(LoadString(IDS_STATUS_DELETED)));
    EXPECT_EQ(test::MailboxCount(user.name()), 3u);
    EXPECT_FALSE(frame.ShowsRunningImages());

    const QString shot = test::ScreenshotPath("main_frame_deleted.png");
    EXPECT_TRUE(frame.grab().save(shot)) << shot.toStdString();
}

}  // namespace
}  // namespace wp
