// Saving from the main window against the test Dovecot: Ctrl+S with a chosen
// folder, the progress dialog while it runs, the folder kept with its "/",
// the warning naming mails not saved, and the drop of a drag.

#include <gtest/gtest.h>

#include <QMimeData>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "frame_rig.h"
#include "platform/string_table.h"
#include "support/blocking_pop3.h"
#include "support/dovecot.h"
#include "ui/command_ids.h"
#include "ui/list_drag.h"
#include "ui/message_list_view.h"
#include "ui/recv_progress_dlg.h"

namespace wp {
namespace {

using test::FrameRig;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class SaveSelectedDovecot : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = test::FindDovecot();
        ASSERT_TRUE(server_) << server_.error;
        user_ = test::LeaseUser();
        ASSERT_TRUE(user_) << user_.error();
    }

    // The window with the mailbox listed.
    CMainFrame& OpenListed(FrameRig& rig) {
        rig.AddAccount("Dovecot " + user_.name(), user_.name(),
                       server_.host + ":" + std::to_string(server_.port), user_.password());
        CMainFrame& frame = rig.Open();
        EXPECT_TRUE(test::PumpUntil([&] { return !rig.PasswordBox()->text().isEmpty(); }));
        frame.OnReceive();
        EXPECT_TRUE(test::PumpUntil([&] { return frame.Engine().receiving == 0; }, std::chrono::seconds(60)));
        QCoreApplication::processEvents();
        return frame;
    }
    void SelectAll(CMainFrame& frame) {
        for (int row = 0; row < frame.List().RowCount(); ++row) {
            frame.List().SetSelected(row, true);
        }
        QCoreApplication::processEvents();
    }

    test::DovecotServer server_;
    test::DovecotUserLease user_;
};

TEST_F(SaveSelectedDovecot, SaveCommandWritesIntoTheChosenFolderWithTheDialogShown) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: Re: hello\n\none\n", "Subject: Re: hello\n\ntwo\n"}));
    FrameRig rig;
    CMainFrame& frame = OpenListed(rig);
    ASSERT_EQ(frame.List().RowCount(), 2);
    EXPECT_FALSE(frame.Action(ID_MAIL_SAVE)->isEnabled()) << "nothing selected yet";
    SelectAll(frame);
    EXPECT_TRUE(frame.Action(ID_MAIL_SAVE)->isEnabled());

    const std::string folder = rig.Folder().Sub("saved");
    std::filesystem::create_directories(folder);
    std::string asked;
    frame.SetFolderAsker([&](const std::string& start) -> std::optional<std::string> {
        asked = start;
        return folder;  // typed without its "/"
    });
    bool frameDisabled = false;
    QString counter;
    frame.onProgressOpen = [&](CRecvProgressDlg& dialog) {
        frameDisabled = !frame.isEnabled();
        counter = dialog.CounterText();
    };
    const QString before = QDir::currentPath();
    frame.Action(ID_MAIL_SAVE)->trigger();

    EXPECT_EQ(asked, before.toStdString()) << "the chooser starts in the current directory";
    EXPECT_TRUE(frameDisabled);
    EXPECT_EQ(counter, QString::fromUtf8("ﾒｯｾｰｼﾞ 1 / 2 受信中..."));
    EXPECT_TRUE(frame.isEnabled());
    EXPECT_EQ(frame.ProgressWindow(), nullptr);
    EXPECT_EQ(Read(folder + "/Re_ hello.eml"), "Subject: Re: hello\r\n\r\none\r\n");
    EXPECT_EQ(Read(folder + "/Re_ hello(1).eml"), "Subject: Re: hello\r\n\r\ntwo\r\n");
    EXPECT_EQ(rig.profile().GetString("WinPosition", "DlgPath"), folder + "/");
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.PaneText(3), Cp932ToQString(LoadString(IDS_STATUS_MESSAGE_DONE)));
    EXPECT_EQ(frame.Engine().retrieveFailed, 0);

    // A chooser left with Cancel saves nothing.
    frame.SetFolderAsker([](const std::string&) { return std::nullopt; });
    frame.Action(ID_MAIL_SAVE)->trigger();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2);
}

TEST_F(SaveSelectedDovecot, MailsNotSavedAreNamedInAWarning) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: gone\n\nx\n", "Subject: kept\n\ny\n"}));
    FrameRig rig;
    CMainFrame& frame = OpenListed(rig);
    test::BlockingPop3 other;
    ASSERT_TRUE(other.Connect(server_.host, server_.port)) << other.error();
    ASSERT_TRUE(other.LoginUser(user_.name(), user_.password())) << other.error();
    ASSERT_TRUE(test::IsOk(other.Command("DELE 1")));
    ASSERT_TRUE(test::IsOk(other.Command("QUIT")));
    other.Close();

    SelectAll(frame);
    const std::string folder = rig.Folder().Sub("saved/");
    std::filesystem::create_directories(folder);
    frame.SetFolderAsker([&](const std::string&) -> std::optional<std::string> { return folder; });
    rig.prompt.Expect(Sjis("次のﾒｰﾙを保存できませんでした。\n\ngone.eml\n"));
    frame.OnSaveSelected();
    EXPECT_TRUE(std::filesystem::exists(folder + "kept.eml"));
    EXPECT_FALSE(std::filesystem::exists(folder + "gone.eml"));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.PaneText(3), QString::fromUtf8("ﾒｯｾｰｼﾞの受信が完了しました。ｻｰﾊﾞにないﾒｯｾｰｼﾞが 1 件ありました。"));
}

TEST_F(SaveSelectedDovecot, ADragWritesItsFilesWhenTheTargetAsks) {
    ASSERT_TRUE(test::FillMailbox(user_.name(), {"Subject: same\n\none\n", "Subject: same\n\ntwo\n"}));
    FrameRig rig;
    CMainFrame& frame = OpenListed(rig);
    SelectAll(frame);
    auto* view = static_cast<CTarnpostView*>(frame.ListWidget());
    std::unique_ptr<MailDragData> data = view->MakeDragData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->Files(), (std::vector<std::string>{"same.eml", "same(1).eml"}));
    const std::string folder = data->Folder();
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "nothing is written before the target asks";

    const QList<QUrl> urls = data->urls();
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(Read(urls[1].toLocalFile().toStdString()), "Subject: same\r\n\r\ntwo\r\n");
    EXPECT_EQ(frame.Engine().retrieveFailed, 0);

    RemoveDragFolder(folder, data->Files());
    EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace wp
