// The folder chooser, the receive progress dialog and the data of a drag,
// through their real widgets offscreen.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frame_rig.h"
#include "support/scripted_prompt.h"
#include "support/wait_for.h"
#include "ui/folder_chooser.h"
#include "ui/list_drag.h"
#include "ui/recv_progress_dlg.h"

namespace wp {
namespace {

using test::FreshFolder;
using test::ScriptedPrompt;

std::string Box(const char* format, const std::string& path) {
    std::string text = format;
    text.replace(text.find("%s"), 2, path);
    return text;
}

const char* const kInvalid = "The folder:\n\n%s\n\nis invalid. Please reenter.";
const char* const kCreate = "The folder:\n\n%s\n\ndoes not exist. Do you want the folder to be created?";
const char* const kCannotCreate = "The folder:\n\n%s\n\ncan not be created. Please double check.";

TEST(FolderPathCheck, PosixSyntax) {
    struct Case {
        const char* path;
        bool valid;
    };
    const Case cases[] = {
        {"/", true},
        {"/home/mail/2005", true},
        {"/home/mail/", false},        // a trailing "/" holds an empty name
        {"home/mail", false},          // not absolute
        {"", false},
        {"/a./b", false},              // a name ending with a period
        {"/ a/b", false},              // ... beginning with a blank
        {"/a/b\t", false},             // ... ending with a tab
        {"/a/.hidden", false},         // ... beginning with a period
        {"/a?b", false},
        {"/a:b", false},
        {"/a\\b", false},
        {"//server/share", false},     // an empty name after the root
        {"/メール/二〇〇五", true},
        {"/a b/c.d", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsValidFolderPath(QString::fromUtf8(c.path)), c.valid) << c.path;
    }
}

TEST(FolderChooser, CreatesAMissingFolderFolderByFolderOnYes) {
    FreshFolder base("chooser");
    const std::string path = base.Sub("mail/2005");
    ScriptedPrompt prompt;
    CFolderChooser chooser(QStringLiteral("保存するフォルダを選択"), QStringLiteral("メール保存"),
                           QString::fromStdString(base.Path()), prompt);
    chooser.show();
    // No: nothing is created and the dialog stays.
    chooser.Edit()->setText(QString::fromStdString(path));
    prompt.Expect(Box(kCreate, path), PromptAnswer::No);
    chooser.OnOk();
    EXPECT_FALSE(std::filesystem::exists(base.Sub("mail")));
    EXPECT_TRUE(chooser.isVisible());
    // Yes: both folders, and the path as typed.
    prompt.Expect(Box(kCreate, path), PromptAnswer::Yes);
    chooser.OnOk();
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_FALSE(chooser.isVisible());
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.GetPath(), path);
    EXPECT_EQ(prompt.Requests().back().icon, PromptIcon::Question);
    EXPECT_EQ(prompt.Requests().back().buttons, PromptButtons::YesNo);
}

TEST(FolderChooser, RefusesWhatItCannotUse) {
    FreshFolder base("chooser");
    std::ofstream(base.Sub("file")) << "x";
    ScriptedPrompt prompt;
    CFolderChooser chooser(QString(), QStringLiteral("メール保存"), QString::fromStdString(base.Path()), prompt);
    chooser.show();

    // The start folder is in the edit box, and OK is on while it is not empty.
    EXPECT_EQ(chooser.Edit()->text().toStdString(), base.Path());
    QPushButton* ok = chooser.Buttons()->button(QDialogButtonBox::Ok);
    chooser.Edit()->clear();
    EXPECT_FALSE(ok->isEnabled());

    const std::string trailing = base.Path() + "/";
    chooser.Edit()->setText(QString::fromStdString(trailing));
    EXPECT_TRUE(ok->isEnabled());
    prompt.Expect(Box(kInvalid, trailing));
    chooser.OnOk();
    EXPECT_EQ(prompt.Requests().back().icon, PromptIcon::Exclamation);

    // A file is no folder.
    prompt.Expect(Box(kInvalid, base.Sub("file")));
    chooser.Edit()->setText(QString::fromStdString(base.Sub("file")));
    chooser.OnOk();

    // A folder under a file cannot be made; the dialog stays open.
    const std::string under = base.Sub("file/sub");
    prompt.Expect(Box(kCreate, under), PromptAnswer::Yes);
    prompt.Expect(Box(kCannotCreate, under));
    chooser.Edit()->setText(QString::fromStdString(under));
    chooser.OnOk();
    EXPECT_TRUE(chooser.isVisible());
    EXPECT_NE(chooser.result(), QDialog::Accepted);

    // The root exists and is taken as it is.
    chooser.Edit()->setText(QStringLiteral("/"));
    chooser.OnOk();
    EXPECT_EQ(chooser.GetPath(), "/");
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
}

TEST(FolderChooser, Screenshot) {
    FreshFolder base("chooser");
    std::filesystem::create_directories(base.Sub("受信メール/2005"));
    ScriptedPrompt prompt;
    CFolderChooser chooser(QStringLiteral("保存するフォルダを選択"), QStringLiteral("メール保存"),
                           QString::fromStdString(base.Sub("受信メール")), prompt);
    chooser.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chooser));
    // The tree fills from a thread of its own.
    QTreeView* tree = chooser.Tree();
    EXPECT_TRUE(test::PumpUntil([tree] {
        const QModelIndex current = tree->currentIndex();
        return current.data().toString() == QStringLiteral("受信メール") && tree->isExpanded(current) &&
               tree->model()->rowCount(current) > 0 &&
               tree->viewport()->rect().contains(tree->visualRect(current));
    }));
    const QString shot = test::ScreenshotPath("folder_chooser.png");
    EXPECT_TRUE(chooser.grab().save(shot)) << shot.toStdString();
}

class ProgressDialog : public ::testing::Test {
protected:
    QMainWindow owner;
    void SetUp() override { owner.show(); }
};

TEST_F(ProgressDialog, CounterFollowsTheMessageIndex) {
    CRecvProgressDlg dialog(&owner);
    ASSERT_TRUE(dialog.ShowProgress(0, 2, 1, 25));
    EXPECT_EQ(dialog.CounterText(), QString::fromUtf8("ﾒｯｾｰｼﾞ 1 / 3 受信中..."));
    dialog.SetMessageIndex(2);
    EXPECT_EQ(dialog.CounterText(), QString::fromUtf8("ﾒｯｾｰｼﾞ 3 / 3 受信中..."));
    dialog.SetMessageIndex(3);
    EXPECT_EQ(dialog.CounterText(), QString::fromUtf8("ﾒｯｾｰｼﾞ 3 / 3 受信中...")) << "past the last: unchanged";
    dialog.SetInfoText(Sjis("Re_ hello(1)"));
    EXPECT_EQ(dialog.InfoText(), QStringLiteral("Re_ hello(1)"));
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("ﾒｰﾙ受信状況"));
}

TEST_F(ProgressDialog, BytesAdvanceTheBarInTheUnitOfTheSelection) {
    struct Case {
        int unit;
        int total;
        std::vector<int> chunks;
        int position;
    };
    const Case cases[] = {
        {1, 25, {2048}, 20},             // 2.5 KB, 2 KB in one chunk
        {1, 25, {1000, 1000}, 18},       // each chunk truncated on its own
        {0, 5000, {1200, 800}, 2000},    // bytes
        {2, 30, {1048576 / 2}, 5},       // MB
    };
    for (const Case& c : cases) {
        CRecvProgressDlg dialog(&owner);
        ASSERT_TRUE(dialog.ShowProgress(0, 0, c.unit, c.total));
        for (int chunk : c.chunks) {
            dialog.AddBytes(chunk);
        }
        EXPECT_EQ(dialog.ProgressPos(), c.position) << "unit " << c.unit;
        EXPECT_EQ(dialog.Bar()->value(), std::min(c.position, c.total));
        EXPECT_EQ(dialog.Bar()->maximum(), c.total);
    }
}

TEST_F(ProgressDialog, StopIsOneRequestEnterNothingAndTheOwnerWaits) {
    CRecvProgressDlg dialog(&owner);
    ASSERT_TRUE(dialog.ShowProgress(0, 2, 0, 100));
    EXPECT_FALSE(owner.isEnabled()) << "the frame cannot be used while the dialog is open";
    EXPECT_TRUE(dialog.StopButton()->isEnabled());

    QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.TakeCancel());
    EXPECT_FALSE(dialog.TakeCancel());

    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.TakeCancel()) << "Enter neither closes nor stops";
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.TakeCancel());

    const QString shot = test::ScreenshotPath("recv_progress.png");
    dialog.SetInfoText(Sjis("Re_ hello(1)"));
    dialog.SetMessageIndex(1);
    dialog.AddBytes(40);
    EXPECT_TRUE(dialog.grab().save(shot)) << shot.toStdString();

    dialog.DestroyProgress();
    EXPECT_TRUE(owner.isEnabled());
}

TEST(DragData, FilesAreWrittenOnlyWhenTheTargetAsks) {
    int writes = 0;
    bool works = true;
    auto make = [&] {
        return std::make_unique<MailDragData>("/tmp/drag-x/", std::vector<std::string>{"a.eml", "a(1).eml"},
                                              [&] {
                                                  ++writes;
                                                  return works;
                                              });
    };
    auto data = make();
    EXPECT_EQ(data->formats(), QStringList{QStringLiteral("text/uri-list")});
    EXPECT_TRUE(data->hasUrls());
    EXPECT_EQ(writes, 0) << "offering the format writes nothing";
    const QList<QUrl> urls = data->urls();
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(urls, (QList<QUrl>{QUrl::fromLocalFile("/tmp/drag-x/a.eml"), QUrl::fromLocalFile("/tmp/drag-x/a(1).eml")}));
    EXPECT_EQ(data->data(QStringLiteral("text/uri-list")),
              QByteArray("file:///tmp/drag-x/a.eml\r\nfile:///tmp/drag-x/a(1).eml\r\n"));
    EXPECT_EQ(writes, 1) << "written once per drag";

    // A retrieval that failed offers nothing.
    works = false;
    auto failed = make();
    EXPECT_TRUE(failed->urls().isEmpty());
    EXPECT_TRUE(failed->Requested());
    EXPECT_FALSE(failed->Written());
}

}  // namespace
}  // namespace wp
