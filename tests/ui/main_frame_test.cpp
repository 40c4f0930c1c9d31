// The main window offscreen: its status panes, toolbar, menus and stored
// layout, and the commands that need no server.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>

#include "accounts/widgets/account_dialog.h"
#include "decode/date_size_text.h"
#include "frame_rig.h"
#include "mail/mail_entry.h"
#include "platform/string_table.h"
#include "ui/command_ids.h"
#include "ui/images.h"
#include "ui/status_panes.h"

namespace wp {
namespace {

using test::FrameRig;
using test::Shown;

TEST(MainFrame, PanesFollowTheWindowWidth) {
    FrameRig rig;
    CMainFrame& frame = rig.Open();
    struct Case {
        int width;
        int panes[4];
    } cases[] = {
        {1000, {400, 80, 70, 450}},
        {800, {320, 80, 70, 330}},
        {1234, {492, 80, 70, 590}},  // (width / 10) x 4 while resizing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        frame.resize(c.width, 400);
        ASSERT_TRUE(test::PumpUntil([&] { return frame.width() == c.width; }));
        for (int pane = 0; pane < 4; ++pane) {
            EXPECT_EQ(frame.PaneWidth(pane), c.panes[pane]) << "pane " << pane;
        }
    }
}

TEST(MainFrame, ProgressBarLiesOverTheThirdPaneAfterAResize) {
    FrameRig rig;
    CMainFrame& frame = rig.Open();
    frame.SetProgressRange(10);
    frame.SetProgressPos(4);
    frame.resize(900, 400);
    ASSERT_TRUE(test::PumpUntil([&] { return frame.PaneWidth(0) == 360; }));
    QProgressBar* progress = frame.Panes().Progress();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(frame.Panes().PaneRect(2).contains(progress->geometry()));
    EXPECT_EQ(progress->value(), 4);
    EXPECT_EQ(progress->maximum(), 10);
}

TEST(MainFrame, OpensAtTheDefaultSizeWithoutASavedRectangle) {
    FrameRig rig;
    CMainFrame& frame = rig.Open();
    // Room for the six columns and about twenty rows, within the screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize expected =
        QSize(900, 600).boundedTo(QSize(screen.width() * 9 / 10, screen.height() * 9 / 10));
    EXPECT_EQ(CMainFrame::FirstStartSize(), expected);
    EXPECT_EQ(frame.size(), expected);
    EXPECT_EQ(frame.windowTitle(), QString::fromUtf8("レンポスト Ver2.2 - Wrenpost"));
    EXPECT_EQ(rig.PaneText(0), Shown("ﾚﾃﾞｨ"));
}

TEST(MainFrame, RectangleToolbarSideAndAccountComeBackAfterARestart) {
    struct Side {
        Qt::ToolBarArea area;
        int toolPos;
    } sides[] = {{Qt::LeftToolBarArea, 5120},
                 {Qt::RightToolBarArea, 16640},
                 {Qt::BottomToolBarArea, 33280},
                 {Qt::TopToolBarArea, 10240}};
    for (const Side& side : sides) {
        SCOPED_TRACE(side.toolPos);
        FrameRig rig;
        rig.AddAccount("自宅", "taro", "pop.example.jp", "pw1");
        rig.AddAccount("会社", "hanako", "mail.example.co.jp:1110", "pw2");
        rig.AddAccount("Zeta", "zed", "pop.zeta.example", "pw3");
        {
            CMainFrame& frame = rig.Open();
            frame.move(40, 30);
            frame.resize(700, 420);
            frame.addToolBar(side.area, frame.ToolBar());
            rig.Combo()->setCurrentIndex(rig.Combo()->findText(QString::fromUtf8("会社")));
            ASSERT_TRUE(test::PumpUntil([&] { return frame.size() == QSize(700, 420); }));
            rig.Close();
        }
        EXPECT_EQ(rig.profile().GetInt("WinPosition\\WinRect", "ToolPos", -1), side.toolPos);
        EXPECT_EQ(Cp932ToUtf8(rig.profile().GetString("AccPosition", "AccEntry")), "会社");

        CMainFrame& frame = rig.Open();
        EXPECT_EQ(frame.pos(), QPoint(40, 30));
        EXPECT_EQ(frame.size(), QSize(700, 420));
        EXPECT_EQ(frame.toolBarArea(frame.ToolBar()), side.area);
        ASSERT_TRUE(test::PumpUntil([&] { return !rig.LoginBox()->text().isEmpty(); }));
        EXPECT_EQ(rig.Combo()->currentText(), QString::fromUtf8("会社"));
        EXPECT_EQ(rig.LoginBox()->text(), QStringLiteral("hanako"));
        EXPECT_EQ(rig.PasswordBox()->text(), QStringLiteral("pw2"));
    }
}

TEST(MainFrame, AFloatingToolbarOrABrokenRectangleOpensAsAtFirst) {
    FrameRig rig;
    rig.profile().SetInt("WinPosition\\WinRect", "ToolPos", 0);
    rig.profile().SetInt("WinPosition\\WinRect", "Left", 300);
    rig.profile().SetInt("WinPosition\\WinRect", "Right", 100);
    rig.profile().SetInt("WinPosition\\WinRect", "Top", 10);
    rig.profile().SetInt("WinPosition\\WinRect", "Bottom", 400);
    CMainFrame& frame = rig.Open();
    EXPECT_EQ(frame.toolBarArea(frame.ToolBar()), Qt::TopToolBarArea);
    EXPECT_EQ(frame.size(), QSize(567, 332));
}

TEST(MainFrame, AccountsAreSortedAndTheFirstIsChosenAtFirstStart) {
    FrameRig rig;
    rig.AddAccount("zeta", "z", "pop.zeta.example", "pz");
    rig.AddAccount("Alpha", "a", "pop.alpha.example", "pa", /*savePassword=*/false);
    rig.AddAccount("beta", "b", "pop.beta.example", "pb");
    rig.Open();
    QComboBox* combo = rig.Combo();
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("Alpha"));
    EXPECT_EQ(combo->itemText(1), QStringLiteral("beta"));
    EXPECT_EQ(combo->itemText(2), QStringLiteral("zeta"));
    EXPECT_EQ(combo->itemData(2).toInt(), 1) << "item data is the account's number";
    ASSERT_TRUE(test::PumpUntil([&] { return rig.LoginBox()->text() == QStringLiteral("a"); }));
    EXPECT_EQ(rig.PasswordBox()->text(), QString()) << "the password of Alpha is not kept";
    EXPECT_EQ(rig.PasswordBox()->echoMode(), QLineEdit::Password);
}

struct MenuItem {
    int id;  // 0: a separator
    const char* text;
    const char* keys;
    bool enabled;
};

TEST(MainFrame, MenuBarReadsAsListed) {
    FrameRig rig;
    CMainFrame& frame = rig.Open();
    struct Menu {
        const char* title;
        std::vector<MenuItem> items;
    } menus[] = {
        {"メール(&M)",
         {{ID_MAIL_RECEIVE, "ﾒｰﾙ受信(&R)\tF5", "F5", true},
          {ID_MAIL_VIEW, "ﾒｰﾙ内容表示(&V)\tF10", "F10", true},
          {ID_MAIL_SAVE, "ﾒｰﾙ保存(&A)\tCtrl+S", "Ctrl+S", false},
          {ID_MAIL_DELETE, "ﾒｰﾙ削除(&D)\tCtrl+DEL", "Ctrl+Del", true},
          {0, "", "", true},
          {ID_WRENPOST_EXIT, "レンポストの終了(&X)", "", true}}},
        {"編集(&E)",
         {{ID_EDIT_UNDO, "元に戻す(&U)\tCtrl+Z", "Ctrl+Z, Alt+Backspace", false},
          {0, "", "", true},
          {ID_EDIT_CUT, "切り取り(&T)\tCtrl+X", "Ctrl+X, Shift+Del", false},
          {ID_EDIT_COPY, "ｺﾋﾟｰ(&C)\tCtrl+C", "Ctrl+C, Ctrl+Ins", false},
          {ID_EDIT_PASTE, "貼り付け(&P)\tCtrl+V", "Ctrl+V, Shift+Ins", false},
          {0, "", "", true},
          {ID_ACCOUNT_SELECT, "ｱｶｳﾝﾄ選択\tF4", "F4", true},
          {ID_MARK, "ﾏｰｸする(&D)", "", true},
          {ID_UNMARK, "ﾏｰｸをはずす(&C)", "", true},
          {0, "", "", true},
          {ID_CLEAR_CACHE, "ｷｬｯｼｭのｸﾘｱ(&C)", "", true},
          {0, "", "", true},
          {ID_SELECT_ALL, "すべて選択(&A)\tCtrl+A", "Ctrl+A", true}}},
        {"表示(&V)",
         {{ID_VIEW_TOOLBAR, "ﾂｰﾙ ﾊﾞｰ(&T)", "", true},
          {ID_VIEW_STATUS_BAR, "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", "", true},
          {0, "", "", true},
          {ID_ACCOUNT_SETTINGS, "ｱｶｳﾝﾄ設定(&S)\tAlt+O", "Alt+O", true}}},
        {"ﾍﾙﾌﾟ(&H)",
         {{ID_HELP_INDEX, "目次(&C)", "", true}, {ID_APP_ABOUT, "レンポストのﾊﾞｰｼﾞｮﾝ情報(&A)...", "", true}}},
    };
    QList<QAction*> bar = frame.menuBar()->actions();
    ASSERT_EQ(bar.size(), 4);
    for (int m = 0; m < 4; ++m) {
        const Menu& menu = menus[m];
        SCOPED_TRACE(menu.title);
        EXPECT_EQ(bar[m]->text(), Shown(menu.title));
        QList<QAction*> items = bar[m]->menu()->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(menu.items.size()));
        for (std::size_t i = 0; i < menu.items.size(); ++i) {
            const MenuItem& want = menu.items[i];
            QAction* got = items[static_cast<qsizetype>(i)];
            SCOPED_TRACE(want.text);
            if (want.id == 0) {
                EXPECT_TRUE(got->isSeparator());
                continue;
            }
            EXPECT_EQ(got, frame.Action(want.id));
            EXPECT_EQ(got->text(), Shown(want.text));
            QStringList keys;
            for (const QKeySequence& key : got->shortcuts()) {
                keys << key.toString(QKeySequence::PortableText);
            }
            EXPECT_EQ(keys.join(QStringLiteral(", ")), QString::fromUtf8(want.keys));
            EXPECT_EQ(got->isEnabled(), want.enabled);
            // The prompt from the string table goes to pane 0, its short form is the tooltip.
            const std::string& prompt = LoadString(want.id);
            if (!prompt.empty()) {
                EXPECT_EQ(got->statusTip(), Cp932ToQString(prompt.substr(0, prompt.find('\n'))));
                EXPECT_EQ(got->toolTip(), Cp932ToQString(prompt.substr(prompt.find('\n') + 1)));
            }
        }
    }
}

TEST(MainFrame, ToolbarHasItsSixButtonsWithCaptionsUnderTransparentImages) {
    FrameRig rig;
    CMainFrame& frame = rig.Open();
    QToolBar* toolBar = frame.ToolBar();
    struct Button {
        int id;
        const char* caption;
    } want[] = {{ID_MAIL_RECEIVE, "受信"},
                {ID_MAIL_VIEW, "ビュー"},
                {ID_MAIL_DELETE, "削除"},
                {ID_ACCOUNT_SETTINGS, "アカウント"},
                {0, ""},
                {ID_WRENPOST_EXIT, "終了"}};
    QList<QAction*> actions = toolBar->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(toolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_TRUE(toolBar->isMovable());
    EXPECT_EQ(toolBar->allowedAreas(), Qt::AllToolBarAreas);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        if (want[i].id == 0) {
            EXPECT_TRUE(actions[i]->isSeparator());
            continue;
        }
        EXPECT_EQ(actions[i], frame.Action(want[i].id));
        auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(actions[i]));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), Shown(want[i].caption));
        QImage image = button->icon().pixmap(32, 32).toImage();
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "the image's corner shows the bar behind it";
        EXPECT_GE(button->width(), 50);
    }
}

TEST(MainFrame, ImagesAreDrawnOnTransparentGroundAndAllDiffer) {
    std::vector<QIcon> icons;
    for (int i = 0; i < kToolbarImageCount; ++i) {
        icons.push_back(ToolbarImage(i, false));
    }
    // The running set differs in its first image only.
    icons.push_back(ToolbarImage(0, true));
    for (int image : {kImageMarked, kImageUnmarked, kImagePlain, kImageParts}) {
        icons.push_back(RowImage(image));
    }
    icons.push_back(AppIcon());
    EXPECT_TRUE(ToolbarImage(kToolbarImageCount, false).isNull());
    EXPECT_TRUE(RowImage(0).isNull());
    // A sheet at three times the size, for a person to look at.
    constexpr int kSize = 96;
    QImage sheet(kSize * static_cast<int>(icons.size()), kSize, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    std::vector<QImage> seen;
    for (std::size_t i = 0; i < icons.size(); ++i) {
        SCOPED_TRACE(i);
        QImage image = icons[i].pixmap(kSize, kSize).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(image.isNull());
        for (QPoint corner :
             {QPoint(0, 0), QPoint(kSize - 1, 0), QPoint(0, kSize - 1), QPoint(kSize - 1, kSize - 1)}) {
            EXPECT_EQ(qAlpha(image.pixel(corner)), 0);
        }
        for (const QImage& other : seen) {
            EXPECT_NE(image, other);
        }
        seen.push_back(image);
        painter.drawImage(kSize * static_cast<int>(i), 0, image);
    }
    painter.end();
    EXPECT_TRUE(sheet.save(test::ScreenshotPath("images.png")));
}

TEST(MainFrame, ReceiveWithAnEmptyPasswordBoxAsksAndStartsNothing) {
    FrameRig rig;
    rig.AddAccount("acc", "taro", "127.0.0.1:9", "", /*savePassword=*/false);
    CMainFrame& frame = rig.Open();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    ASSERT_TRUE(test::PumpUntil([&] { return rig.LoginBox()->text() == QStringLiteral("taro"); }));
    frame.FocusList();
    PromptRequest box;
    box.text = LoadString(IDS_ENTER_PASSWORD);
    box.caption = LoadString(57344);
    box.buttons = PromptButtons::Ok;
    rig.prompt.Expect(box, PromptAnswer::Ok);
    QTest::keyClick(&frame, Qt::Key_F5);
    EXPECT_EQ(rig.prompt.Count(), 1u);
    EXPECT_EQ(frame.Engine().receiving, 0);
    EXPECT_FALSE(frame.ShowsRunningImages());
    EXPECT_TRUE(test::PumpUntil([&] { return rig.PasswordBox()->hasFocus(); }));
}

TEST(MainFrame, DeleteMarkedAsksOnlyWhenARowIsMarked) {
    FrameRig rig;
    rig.AddAccount("acc", "taro", "127.0.0.1:9", "pw");
    CMainFrame& frame = rig.Open();
    MailEntry first;
    first.id = 1;
    MailEntry second;
    second.id = 2;
    frame.List().InsertRow(&first, kImageUnmarked);
    frame.List().InsertRow(&second, kImageUnmarked);
    // No mark: no question.
    frame.Action(ID_MAIL_DELETE)->trigger();
    EXPECT_EQ(rig.prompt.Count(), 0u);
    // A mark: the question, and No starts nothing.
    frame.List().SetSelected(1, true);
    frame.Action(ID_MARK)->trigger();
    EXPECT_EQ(frame.List().MarkImage(1), kImageMarked);
    EXPECT_EQ(second.mark, 1);
    PromptRequest box;
    box.text = LoadString(IDS_DELETE_MARKED_QUESTION);
    box.caption = LoadString(57344);
    box.buttons = PromptButtons::YesNo;
    box.icon = PromptIcon::Exclamation;
    box.defaultAnswer = PromptAnswer::No;
    rig.prompt.Expect(box, PromptAnswer::No);
    frame.Action(ID_MAIL_DELETE)->trigger();
    EXPECT_EQ(rig.prompt.Count(), 1u);
    EXPECT_EQ(frame.Engine().receiving, 0);
    frame.List().DeleteAllRows();
}

TEST(MainFrame, AccountSelectPutsTheFocusInTheAccountBox) {
    FrameRig rig;
    rig.AddAccount("acc", "taro", "127.0.0.1:9", "pw");
    CMainFrame& frame = rig.Open();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    frame.FocusList();
    QTest::keyClick(&frame, Qt::Key_F4);
    EXPECT_TRUE(test::PumpUntil([&] { return rig.Combo()->hasFocus(); }));
}

TEST(MainFrame, AccountSettingsOpenOneDialogWhoseCloseReloadsTheBar) {
    FrameRig rig;
    rig.AddAccount("自宅", "taro", "pop.example.jp", "pw1");
    CMainFrame& frame = rig.Open();
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QTest::keyClick(&frame, Qt::Key_O, Qt::AltModifier);
    CAccountDlg* dialog = frame.AccountDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    frame.Action(ID_ACCOUNT_SETTINGS)->trigger();
    EXPECT_EQ(frame.AccountDialog(), dialog) << "one dialog at a time";

    // A new account saved in the dialog is in the bar once the dialog closes.
    static_cast<QAbstractButton*>(dialog->Control(CAccountDlg::kNewButton))->click();
    static_cast<QLineEdit*>(dialog->Control(CAccountDlg::kNameBox))->setText(QString::fromUtf8("会社"));
    static_cast<QLineEdit*>(dialog->Control(CAccountDlg::kLoginIdBox))->setText(QStringLiteral("hanako"));
    static_cast<QLineEdit*>(dialog->Control(CAccountDlg::kServerBox))
        ->setText(QStringLiteral("mail.example.jp"));
    static_cast<QLineEdit*>(dialog->Control(CAccountDlg::kPasswordBox))->setText(QStringLiteral("pw2"));
    static_cast<QAbstractButton*>(dialog->Control(CAccountDlg::kSaveButton))->click();
    EXPECT_EQ(rig.Combo()->count(), 1) << "the bar waits for the dialog to close";
    static_cast<QAbstractButton*>(dialog->Control(CAccountDlg::kCloseButton))->click();
    EXPECT_EQ(frame.AccountDialog(), nullptr);
    ASSERT_EQ(rig.Combo()->count(), 2);
    EXPECT_EQ(rig.Combo()->itemText(0), QString::fromUtf8("会社"));
    EXPECT_EQ(rig.Combo()->itemText(1), QString::fromUtf8("自宅"));
    EXPECT_EQ(frame.Accounts().Size(), 2);
}

// A second window's dialog (or wrenpost-cli) has the accounts: this window
// says so instead of opening a dialog whose saves would overwrite theirs.
TEST(MainFrame, AccountSettingsAreRefusedWhileAnotherWriterHoldsTheAccounts) {
    FrameRig rig;
    rig.AddAccount("自宅", "taro", "pop.example.jp", "pw1");
    CMainFrame& frame = rig.Open();
    {
        CAccountList otherWindow(false, rig.DataFolder(), rig.profile());
        ASSERT_TRUE(otherWindow.Writable());
        PromptRequest box;
        box.text = LoadString(IDS_ACCOUNTS_BUSY);
        box.caption = Sjis("ｱｶｳﾝﾄ設定");
        box.buttons = PromptButtons::Ok;
        box.icon = PromptIcon::Exclamation;
        rig.prompt.Expect(box, PromptAnswer::Ok);
        frame.Action(ID_ACCOUNT_SETTINGS)->trigger();
        EXPECT_EQ(frame.AccountDialog(), nullptr);
        EXPECT_EQ(rig.prompt.Pending(), 0u);
    }
    frame.Action(ID_ACCOUNT_SETTINGS)->trigger();
    ASSERT_NE(frame.AccountDialog(), nullptr);
    static_cast<QAbstractButton*>(frame.AccountDialog()->Control(CAccountDlg::kCloseButton))->click();
}

// A viewer that records what the frame hands it.
class RecordingViewer : public QWidget, public FrameViewer {
public:
    QWidget* Window() override { return this; }
    void SetEntry(MailEntry* entry) override { entries.push_back(entry); }
    void SetSizeText(const std::string& text) override { sizeText = text; }
    void ResetProgress() override { ++progressResets; }
    void BeginReceive() override {}
    void EndReceive() override {}
    void SetStatusText(const std::string&) override {}
    void ClearMailText() override {}
    void AppendReceivedText(const char*, std::size_t, int) override {}
    void PostClose() override {}
    void SetMailFile(const StoredMail&) override {}
    void SetWaitCursor(bool) override {}
    void ClearAttachments() override {}
    void AddAttachment(const std::string&) override {}
    void ShowMailText(MailView) override {}

    std::vector<MailEntry*> entries;
    std::string sizeText;
    int progressResets = 0;
};

TEST(MainFrame, ViewOpensTheViewerWhereItWasAndPreviousAndNextStepThroughTheRows) {
    FrameRig rig;
    rig.AddAccount("acc", "taro", "127.0.0.1:1", "pw");
    rig.profile().SetInt("WinPosition\\DlgRect", "Left", 100);
    rig.profile().SetInt("WinPosition\\DlgRect", "Top", 50);
    rig.profile().SetInt("WinPosition\\DlgRect", "Right", 500);
    rig.profile().SetInt("WinPosition\\DlgRect", "Bottom", 350);
    CMainFrame& frame = rig.Open();
    ASSERT_TRUE(test::PumpUntil([&] { return frame.SelectedAccount() != nullptr; }));
    EXPECT_TRUE(frame.Action(ID_MAIL_VIEW)->isEnabled()) << "the program's viewer";
    frame.SetViewerFactory(nullptr);
    EXPECT_FALSE(frame.Action(ID_MAIL_VIEW)->isEnabled()) << "no viewer, no view command";
    RecordingViewer* viewer = nullptr;
    frame.SetViewerFactory([&](CMainFrame& owner) {
        viewer = new RecordingViewer;
        viewer->setParent(&owner, Qt::Window);
        return viewer;
    });
    EXPECT_TRUE(frame.Action(ID_MAIL_VIEW)->isEnabled());
    MailEntry rows[3];
    for (int i = 0; i < 3; ++i) {
        rows[i].id = static_cast<std::uint32_t>(i + 1);
        rows[i].size = 1500u * static_cast<std::uint32_t>(i + 1);
        frame.List().InsertRow(&rows[i], kImageUnmarked);
    }
    // Nothing selected: nothing opens.
    frame.Action(ID_MAIL_VIEW)->trigger();
    EXPECT_EQ(viewer, nullptr);

    frame.List().SetSelected(1, true);
    frame.Action(ID_MAIL_VIEW)->trigger();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->pos(), QPoint(100, 50));
    EXPECT_EQ(viewer->size(), QSize(400, 300));
    EXPECT_TRUE(viewer->isVisible());
    ASSERT_EQ(viewer->entries.size(), 1u);
    EXPECT_EQ(viewer->entries[0], &rows[1]);
    EXPECT_EQ(viewer->sizeText, MailSizeText(3000));
    EXPECT_EQ(viewer->progressResets, 1);
    EXPECT_EQ(frame.Engine().receiving, 1) << "the fetch started";
    ASSERT_TRUE(test::PumpUntil([&] { return frame.Engine().receiving == 0; }));

    frame.ShowNext(&rows[1]);
    EXPECT_FALSE(frame.List().IsSelected(1));
    EXPECT_TRUE(frame.List().IsSelected(2));
    ASSERT_TRUE(test::PumpUntil([&] { return viewer->entries.size() == 2u; }));
    EXPECT_EQ(viewer->entries[1], &rows[2]);
    EXPECT_EQ(viewer->sizeText, MailSizeText(4500));
    ASSERT_TRUE(test::PumpUntil([&] { return frame.Engine().receiving == 0; }));
    // No row after the last, none before the first.
    frame.ShowNext(&rows[2]);
    frame.ShowPrevious(&rows[0]);
    QCoreApplication::processEvents();
    EXPECT_EQ(viewer->entries.size(), 2u);

    frame.ViewerClosed();
    EXPECT_EQ(frame.Viewer(), nullptr);
    frame.List().DeleteAllRows();
}

}  // namespace
}  // namespace wp
