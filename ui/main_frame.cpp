#include "ui/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QMenuBar>
#include <QProgressBar>
#include <QResizeEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>

#include "accounts/account_list.h"
#include "accounts/check_interval.h"
#include "accounts/widgets/account_bar.h"
#include "accounts/widgets/account_dialog.h"
#include "decode/date_size_text.h"
#include "engine/viewer_forwarder.h"
#include "mail/entry_record.h"
#include "mail/fetch_for_view.h"
#include "mail/index_record.h"
#include "mail/mailbox_files.h"
#include "platform/profile.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "ui/about_dialog.h"
#include "ui/command_ids.h"
#include "ui/help_page.h"
#include "ui/images.h"
#include "ui/mail_checker.h"
#include "ui/mail_view_dlg.h"
#include "ui/message_list_view.h"
#include "ui/qt_prompt.h"
#include "ui/status_panes.h"

namespace wp {
namespace {

constexpr std::string_view kWindowSection = "WinPosition\\WinRect";
constexpr std::string_view kViewerSection = "WinPosition\\DlgRect";
// A first start shows the six columns and about twenty rows.
constexpr int kFirstStartWidth = 900;
constexpr int kFirstStartHeight = 600;
// What a saved rectangle that cannot be a window falls back to.
constexpr int kDefaultWidth = 567;
constexpr int kDefaultHeight = 332;

// The system's own texts reach the widgets through the one boundary.
QString Text(const char* utf8) {
    return Cp932ToQString(Sjis(utf8));
}

// Prompts of the commands whose texts the string table does not hold.
const char* FrameworkPrompt(int id) {
    switch (id) {
        case ID_EDIT_UNDO:
            return "直前の操作を元に戻します。\n元に戻す";
        case ID_EDIT_CUT:
            return "選択範囲を切り取ってｸﾘｯﾌﾟﾎﾞｰﾄﾞに移動します。\n切り取り";
        case ID_EDIT_COPY:
            return "選択範囲をｺﾋﾟｰしてｸﾘｯﾌﾟﾎﾞｰﾄﾞに保存します。\nｺﾋﾟｰ";
        case ID_EDIT_PASTE:
            return "ｸﾘｯﾌﾟﾎﾞｰﾄﾞの内容を挿入します。\n貼り付け";
        case ID_VIEW_TOOLBAR:
            return "ﾂｰﾙ ﾊﾞｰの表示/非表示を切り替えます。\nﾂｰﾙ ﾊﾞｰの表示/非表示";
        case ID_VIEW_STATUS_BAR:
            return "ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示を切り替えます。\nｽﾃｰﾀｽ ﾊﾞｰの表示/非表示";
        case ID_APP_ABOUT:
            return "ﾌﾟﾛｸﾞﾗﾑの情報とﾊﾞｰｼﾞｮﾝを表示します。\nﾊﾞｰｼﾞｮﾝ情報";
        default:
            return nullptr;
    }
}

// A prompt is the status-bar text, then the tooltip after "\n".
std::pair<QString, QString> PromptOf(int id) {
    std::string text = LoadString(id);
    if (text.empty()) {
        if (const char* own = FrameworkPrompt(id)) {
            text = Sjis(own);
        }
    }
    auto at = text.find('\n');
    if (at == std::string::npos) {
        return {Cp932ToQString(text), Cp932ToQString(text)};
    }
    return {Cp932ToQString(text.substr(0, at)), Cp932ToQString(text.substr(at + 1))};
}

Qt::ToolBarArea AreaOf(int toolPos) {
    switch (toolPos) {
        case kToolPosLeft:
            return Qt::LeftToolBarArea;
        case kToolPosRight:
            return Qt::RightToolBarArea;
        case kToolPosBottom:
            return Qt::BottomToolBarArea;
        default:
            return Qt::TopToolBarArea;  // also a toolbar that was left floating
    }
}

// The toolbar's captions, under the images.
const char* const kCaptions[kToolbarImageCount] = {"受信", "ビュー", "削除", "アカウント", "終了"};

}  // namespace

CMainFrame::CMainFrame(std::string dataFolder, Profile& profile, Prompt* prompt)
    : dataFolder_(std::move(dataFolder)), profile_(profile) {
    if (prompt == nullptr) {
        ownPrompt_ = std::make_unique<QtPrompt>(this);
        prompt = ownPrompt_.get();
    }
    prompt_ = prompt;
    accounts_ = std::make_unique<CAccountList>(true, dataFolder_, profile_);
    setWindowIcon(AppIcon());
    document_.titleChanged = [this] { UpdateTitle(); };

    CreateStatusBar();
    CreateMenus();
    CreateListView();
    engine_ = std::make_unique<FrameEngine>(*this, *prompt_, dataFolder_);
    list_->SetEngine(engine_.get());
    CreateToolBar();
    CreateAccountBar();
    checker_ = std::make_unique<MailChecker>(*this);
    // A drop wants its files before it returns: it cannot wait for a check.
    engine_->onStart = [this](int kind) {
        return checker_->MakeWay(kind, kind != kOperationRetrieve || saveToFolder != 0);
    };

    viewerFactory_ = [](CMainFrame& frame) -> FrameViewer* {
        return new CMailViewDlg(frame, frame.profile_, *frame.prompt_, &frame);
    };
    engine_->Operations().fetchForView = [this](OperationContext& context) {
        CMailboxFiles* mailbox = engine_->Mailbox();
        if (mailbox == nullptr) {
            return -1;
        }
        ViewerForwarder viewer(*engine_);
        // Read when the mail is in: a choice made while it arrived counts.
        return RunFetchForView(*mailbox, context, viewEntry_, viewer,
                               [this] { return profile_.GetInt("Mail", "Encode", -1); });
    };

    InstallRetrieval();

    document_.OnNewDocument();
    RestorePlacement();
    UpdatePaneWidths();
    UpdateCommandUi();
    accountBar_->Create();
}

CMainFrame::~CMainFrame() {
    // The viewer says goodbye while the engine it talks to is still there.
    delete viewerWindow_.data();
    SavePlacement();
    if (CMailboxFiles* mailbox = engine_->Mailbox()) {
        mailbox->ClearList(*list_);
    }
    // No selection summary while the window is going.
    list_->SetEngine(nullptr);
    checker_.reset();
    // The engine goes first: its worker may still report to this window.
    engine_.reset();
}

// ---------------------------------------------------------------- creation

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    panes_ = new StatusPanes(bar);
    bar->addWidget(panes_, 1);
    panes_->SetText(0, Cp932ToQString(LoadString(57345)));
}

// The list view with its own commands (mark, unmark, select all); its
// context menu's other commands are the frame's.
void CMainFrame::CreateListView() {
    list_ = new CTarnpostView(profile_, this);
    setCentralWidget(list_);
    for (int id : {ID_MARK, ID_UNMARK, ID_SELECT_ALL}) {
        connect(Action(id), &QAction::triggered, list_, [this, id] { list_->OnCommand(id); });
    }
    connect(list_, &CTarnpostView::frameCommand, this, [this](int id) {
        if (QAction* action = Action(id)) {
            action->trigger();
        }
    });
    connect(list_, &CTarnpostView::accountSelectorRequested, this, [this] { OnAccountSelect(); });
    connect(list_, &CTarnpostView::selectionStateChanged, this,
            [this] { Action(ID_MAIL_SAVE)->setEnabled(list_->IsCommandEnabled(ID_MAIL_SAVE)); });
    // A double click opens the row, as users expect of a mail list.
    connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) {
            OnView();
        }
    });
}

QAction* CMainFrame::MakeAction(int id, const char* text, const QList<QKeySequence>& keys) {
    auto* action = new QAction(Text(text), this);
    auto [status, tip] = PromptOf(id);
    action->setStatusTip(status);
    action->setToolTip(tip);
    action->setShortcuts(keys);
    action->setIconVisibleInMenu(false);
    action->setData(id);
    addAction(action);
    actions_[id] = action;
    return action;
}

void CMainFrame::CreateMenus() {
    QMenuBar* bar = menuBar();

    QMenu* mail = bar->addMenu(Text("メール(&M)"));
    mail->addAction(MakeAction(ID_MAIL_RECEIVE, "ﾒｰﾙ受信(&R)\tF5", {Qt::Key_F5}));
    mail->addAction(MakeAction(ID_MAIL_VIEW, "ﾒｰﾙ内容表示(&V)\tF10", {Qt::Key_F10}));
    mail->addAction(MakeAction(ID_MAIL_SAVE, "ﾒｰﾙ保存(&A)\tCtrl+S", {Qt::CTRL | Qt::Key_S}));
    mail->addAction(MakeAction(ID_MAIL_DELETE, "ﾒｰﾙ削除(&D)\tCtrl+DEL", {Qt::CTRL | Qt::Key_Delete}));
    mail->addSeparator();
    mail->addAction(MakeAction(ID_WRENPOST_EXIT, "レンポストの終了(&X)"));

    QMenu* edit = bar->addMenu(Text("編集(&E)"));
    edit->addAction(MakeAction(ID_EDIT_UNDO, "元に戻す(&U)\tCtrl+Z",
                               {Qt::CTRL | Qt::Key_Z, Qt::ALT | Qt::Key_Backspace}));
    edit->addSeparator();
    edit->addAction(
        MakeAction(ID_EDIT_CUT, "切り取り(&T)\tCtrl+X", {Qt::CTRL | Qt::Key_X, Qt::SHIFT | Qt::Key_Delete}));
    edit->addAction(
        MakeAction(ID_EDIT_COPY, "ｺﾋﾟｰ(&C)\tCtrl+C", {Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert}));
    edit->addAction(MakeAction(ID_EDIT_PASTE, "貼り付け(&P)\tCtrl+V",
                               {Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert}));
    edit->addSeparator();
    edit->addAction(MakeAction(ID_ACCOUNT_SELECT, "ｱｶｳﾝﾄ選択\tF4", {Qt::Key_F4}));
    edit->addAction(MakeAction(ID_MARK, "ﾏｰｸする(&D)"));
    edit->addAction(MakeAction(ID_UNMARK, "ﾏｰｸをはずす(&C)"));
    edit->addSeparator();
    edit->addAction(MakeAction(ID_CLEAR_CACHE, "ｷｬｯｼｭのｸﾘｱ(&C)"));
    edit->addSeparator();
    edit->addAction(MakeAction(ID_SELECT_ALL, "すべて選択(&A)\tCtrl+A", {Qt::CTRL | Qt::Key_A}));

    QMenu* view = bar->addMenu(Text("表示(&V)"));
    QAction* toolBarShown = MakeAction(ID_VIEW_TOOLBAR, "ﾂｰﾙ ﾊﾞｰ(&T)");
    QAction* statusBarShown = MakeAction(ID_VIEW_STATUS_BAR, "ｽﾃｰﾀｽ ﾊﾞｰ(&S)");
    view->addAction(toolBarShown);
    view->addAction(statusBarShown);
    view->addSeparator();
    view->addAction(MakeAction(ID_ACCOUNT_SETTINGS, "ｱｶｳﾝﾄ設定(&S)\tAlt+O", {Qt::ALT | Qt::Key_O}));

    QMenu* help = bar->addMenu(Text("ﾍﾙﾌﾟ(&H)"));
    help->addAction(MakeAction(ID_HELP_INDEX, "目次(&C)"));
    help->addAction(MakeAction(ID_APP_ABOUT, "レンポストのﾊﾞｰｼﾞｮﾝ情報(&A)..."));

    // The commands this window has no handler for stay off.
    for (int id : {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE}) {
        actions_[id]->setEnabled(false);
    }

    connect(Action(ID_MAIL_RECEIVE), &QAction::triggered, this, [this] { OnReceive(); });
    connect(Action(ID_MAIL_VIEW), &QAction::triggered, this, [this] { OnView(); });
    connect(Action(ID_MAIL_DELETE), &QAction::triggered, this, [this] { OnDeleteMarked(); });
    connect(Action(ID_WRENPOST_EXIT), &QAction::triggered, this, [this] { OnExit(); });
    connect(Action(ID_ACCOUNT_SELECT), &QAction::triggered, this, [this] { OnAccountSelect(); });
    connect(Action(ID_CLEAR_CACHE), &QAction::triggered, this, [this] { OnClearCache(); });
    connect(Action(ID_ACCOUNT_SETTINGS), &QAction::triggered, this, [this] { OnAccountSettings(); });
    connect(Action(ID_HELP_INDEX), &QAction::triggered, this, [this] { OnHelp(); });
    connect(Action(ID_APP_ABOUT), &QAction::triggered, this, [this] { OnAbout(); });
    connect(Action(ID_MAIL_SAVE), &QAction::triggered, this, [this] { OnSaveSelected(); });

    toolBarShown->setCheckable(true);
    toolBarShown->setChecked(true);
    statusBarShown->setCheckable(true);
    statusBarShown->setChecked(true);
    connect(toolBarShown, &QAction::toggled, this, [this](bool on) { toolBar_->setVisible(on); });
    connect(statusBarShown, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });

    for (QMenu* menu : {mail, edit, view, help}) {
        connect(menu, &QMenu::aboutToShow, this, [this] { UpdateCommandUi(); });
        // Leaving the menus puts the idle text back.
        connect(menu, &QMenu::aboutToHide, this,
                [this] { panes_->SetText(0, Cp932ToQString(LoadString(57345))); });
    }
}

void CMainFrame::CreateToolBar() {
    toolBar_ = new QToolBar(Text("ﾂｰﾙ ﾊﾞｰ"), this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setIconSize(QSize(32, 32));
    toolBar_->setMovable(true);
    toolBar_->setFloatable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    const int ids[kToolbarImageCount] = {ID_MAIL_RECEIVE, ID_MAIL_VIEW, ID_MAIL_DELETE, ID_ACCOUNT_SETTINGS,
                                         ID_WRENPOST_EXIT};
    for (int i = 0; i < kToolbarImageCount; ++i) {
        QAction* action = Action(ids[i]);
        action->setIcon(ToolbarImage(i, false));
        action->setIconText(Text(kCaptions[i]));
        if (ids[i] == ID_WRENPOST_EXIT) {
            toolBar_->addSeparator();
        }
        toolBar_->addAction(action);
        if (QWidget* button = toolBar_->widgetForAction(action)) {
            button->setMinimumWidth(50);
            button->setMaximumWidth(250);
        }
    }
    connect(toolBar_, &QToolBar::visibilityChanged, this, [this](bool shown) {
        if (!isHidden()) {
            Action(ID_VIEW_TOOLBAR)->setChecked(shown);
        }
    });
    int toolPos = profile_.GetInt(kWindowSection, "ToolPos", kToolPosTop);
    addToolBar(AreaOf(toolPos), toolBar_);
}

void CMainFrame::CreateAccountBar() {
    accountBar_ = new CAccountBar(*this, *prompt_, profile_, this);
    accountBar_->toggleViewAction()->setEnabled(false);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, accountBar_);
}

// ---------------------------------------------------------------- placement

void CMainFrame::RestorePlacement() {
    const int top = profile_.GetInt(kWindowSection, "Top", -1);
    const int bottom = profile_.GetInt(kWindowSection, "Bottom", -1);
    const int left = profile_.GetInt(kWindowSection, "Left", -1);
    const int right = profile_.GetInt(kWindowSection, "Right", -1);
    if (top == -1 && bottom == -1 && left == -1 && right == -1) {
        resize(FirstStartSize());
        return;
    }
    const QRect saved(left, top, right - left, bottom - top);
    if (saved.width() <= 0 || saved.height() <= 0) {
        // Nothing a window can be: the default size instead.
        resize(kDefaultWidth, kDefaultHeight);
        return;
    }
    resize(saved.size());
    // A rectangle on a screen that is no longer there would hide the window.
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(saved)) {
            move(saved.topLeft());
            return;
        }
    }
}

QSize CMainFrame::FirstStartSize() {
    QSize size(kFirstStartWidth, kFirstStartHeight);
    if (QScreen* shown = QGuiApplication::primaryScreen()) {
        // Room for the window's frame on a small screen.
        const QRect free = shown->availableGeometry();
        size = size.boundedTo(QSize(free.width() * 9 / 10, free.height() * 9 / 10));
    }
    return size;
}

void CMainFrame::SavePlacement() {
    // The window's outer position and its size: what RestorePlacement takes.
    QRect rect(pos(), size());
    if (isMaximized() || isMinimized()) {
        rect = normalGeometry();
    }
    profile_.SetInt(kWindowSection, "Top", rect.top());
    profile_.SetInt(kWindowSection, "Bottom", rect.top() + rect.height());
    profile_.SetInt(kWindowSection, "Left", rect.left());
    profile_.SetInt(kWindowSection, "Right", rect.left() + rect.width());
    profile_.SetString("AccPosition", "AccEntry", accountBar_->GetSelectedAccountName());
    int toolPos = kToolPosFloating;
    if (!toolBar_->isFloating()) {
        switch (toolBarArea(toolBar_)) {
            case Qt::TopToolBarArea:
                toolPos = kToolPosTop;
                break;
            case Qt::LeftToolBarArea:
                toolPos = kToolPosLeft;
                break;
            case Qt::RightToolBarArea:
                toolPos = kToolPosRight;
                break;
            case Qt::BottomToolBarArea:
                toolPos = kToolPosBottom;
                break;
            default:
                break;
        }
    }
    profile_.SetInt(kWindowSection, "ToolPos", toolPos);
}

void CMainFrame::UpdatePaneWidths() {
    const int w = width();
    panes_->SetWidths({w * 4 / 10, 80, 70, w * 6 / 10 - 150});
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const int w = event->size().width();
    panes_->SetWidths({(w / 10) * 4, 80, 70, w * 6 / 10 - 150});
}

// ---------------------------------------------------------------- title, status, toolbar

void CMainFrame::UpdateTitle() {
    setWindowTitle(Cp932ToQString(document_.GetTitle()) + QStringLiteral(" - ") +
                   Cp932ToQString(LoadString(57344)));
}

void CMainFrame::UpdateCommandUi() {
    const bool receiving = runningImages_ || (engine_ && engine_->receiving != 0);
    Action(ID_MAIL_RECEIVE)->setText(receiving ? Text("ﾒｰﾙ受信中断(&R)\tF5") : Text("ﾒｰﾙ受信(&R)\tF5"));
    Action(ID_CLEAR_CACHE)->setEnabled(!receiving);
    Action(ID_MAIL_VIEW)->setEnabled(static_cast<bool>(viewerFactory_));
    Action(ID_MAIL_SAVE)->setEnabled(list_ != nullptr && list_->IsCommandEnabled(ID_MAIL_SAVE));
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // Prompts go to pane 0; the other panes keep what the operations wrote.
        QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        panes_->SetText(0, tip.isEmpty() ? Cp932ToQString(LoadString(57345)) : tip);
        return true;
    }
    return QMainWindow::event(event);
}

int CMainFrame::PaneWidth(int pane) const {
    return panes_->Width(pane);
}

QString CMainFrame::PaneText(int pane) const {
    return panes_->Text(pane);
}

QAction* CMainFrame::Action(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QWidget* CMainFrame::AccountBarWidget() const {
    return accountBar_;
}

QWidget* CMainFrame::ListWidget() const {
    return list_;
}

// ---------------------------------------------------------------- FrameView

const AccountInfo* CMainFrame::SelectedAccount() {
    return accountBar_->GetSelectedAccount();
}

std::string CMainFrame::AccountText() {
    const AccountInfo* account = SelectedAccount();
    return account != nullptr ? std::string(account->Name()) : std::string();
}

std::string CMainFrame::LoginIdText() {
    return accountBar_->LoginIdText();
}

std::string CMainFrame::PasswordText() {
    return accountBar_->PasswordText();
}

void CMainFrame::SetPaneText(int pane, const std::string& text) {
    panes_->SetText(pane, Cp932ToQString(text));
}

void CMainFrame::ResetProgress() {
    QProgressBar* progress = panes_->EnsureProgress();
    panes_->SetText(2, QString());
    progress->setValue(progress->minimum());
}

void CMainFrame::SetProgressRange(int total) {
    QProgressBar* progress = panes_->EnsureProgress();
    panes_->SetText(2, QString());
    // A range of 0 to 0 would make Qt's bar a busy indicator.
    progress->setRange(0, std::max(total, 1));
    progress->setValue(0);
}

void CMainFrame::SetProgressPos(int position) {
    if (QProgressBar* progress = panes_->Progress()) {
        // Qt's bar repaints at once on every visible step; a cached list of
        // tens of thousands of mails steps once per mail. Painted with the
        // next update instead, as the other panes are.
        progress->setUpdatesEnabled(false);
        progress->setValue(std::clamp(position, progress->minimum(), progress->maximum()));
        progress->setUpdatesEnabled(true);
    }
}

void CMainFrame::SetRunningImages(bool running) {
    runningImages_ = running;
    QAction* receive = Action(ID_MAIL_RECEIVE);
    receive->setIcon(ToolbarImage(0, running));
    receive->setIconText(running ? Text("中断") : Text(kCaptions[0]));
    UpdateCommandUi();
}

void CMainFrame::SetDocumentTitle(const std::string& title) {
    document_.SetTitle(title);
}

void CMainFrame::FocusList() {
    list_->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::CloseWindow() {
    closingForGood_ = true;
    close();
}

MailList& CMainFrame::List() {
    return *list_;
}

// ---------------------------------------------------------------- AccountFrame

bool CMainFrame::OperationRunning() {
    return engine_->receiving != 0;
}

bool CMainFrame::ConnectionAnswers() {
    return engine_->CheckConnection();
}

void CMainFrame::CancelAndDisconnect() {
    engine_->CancelOperation();
    // The session is the worker's until the operation has ended.
    engine_->WhenIdle([this] { engine_->Disconnect(); });
}

void CMainFrame::LoadCachedList(const std::string& accountName) {
    engine_->SwitchAccount(accountName);
}

void CMainFrame::ActivateFrame() {
    if (isVisible()) {
        raise();
        activateWindow();
    }
}

std::string CMainFrame::GetSelectedAccountName() {
    return AccountText();
}

void CMainFrame::AccountSaved(const AccountRecord& record, std::string_view password) {
    accountBar_->AccountSaved(record, password);
}

void CMainFrame::ReloadAccounts() {
    accountDlg_ = nullptr;
    accounts_ = std::make_unique<CAccountList>(true, dataFolder_, profile_);
    accountBar_->ReloadAccounts();
}

// ---------------------------------------------------------------- commands

void CMainFrame::OnReceive() {
    // While an operation runs this is its cancel command, whatever the box holds.
    if (engine_->receiving == 0 && accountBar_->PasswordText().empty()) {
        PromptRequest box;
        box.text = LoadString(IDS_ENTER_PASSWORD);
        box.caption = LoadString(57344);
        box.buttons = PromptButtons::Ok;
        prompt_->Ask(box);
        accountBar_->FocusPasswordBox();
        return;
    }
    engine_->StartOperation(kOperationList);
}

void CMainFrame::OnView() {
    if (engine_->receiving) {
        return;
    }
    int row = -1;
    for (int i = 0; i < list_->RowCount(); ++i) {
        if (list_->IsSelected(i)) {
            row = i;
            break;
        }
    }
    MailEntry* entry = row < 0 ? nullptr : list_->RowEntry(row);
    if (entry == nullptr) {
        return;
    }
    if (viewer_ == nullptr) {
        if (!viewerFactory_ || (viewer_ = viewerFactory_(*this)) == nullptr) {
            return;
        }
        viewerWindow_ = viewer_->Window();
        const int top = profile_.GetInt(kViewerSection, "Top", -1);
        const int bottom = profile_.GetInt(kViewerSection, "Bottom", -1);
        const int left = profile_.GetInt(kViewerSection, "Left", -1);
        const int right = profile_.GetInt(kViewerSection, "Right", -1);
        if (!(top == -1 && bottom == -1 && left == -1 && right == -1) && right > left && bottom > top) {
            viewerWindow_->move(left, top);
            viewerWindow_->resize(right - left, bottom - top);
        }
    }
    viewerWindow_->show();
    viewerWindow_->raise();
    viewerWindow_->activateWindow();
    OpenEntry(entry);
}

void CMainFrame::OpenEntry(MailEntry* entry) {
    viewer_->SetEntry(entry);
    viewEntry_ = *entry;
    viewSize = static_cast<std::int32_t>(entry->size);
    viewHeaderLength = 0;
    if (CMailboxFiles* mailbox = engine_->Mailbox()) {
        IndexRecord record;
        if (ReadEntryRecord(mailbox->sidPath, *entry, &record) == EntryRecord::kSame) {
            viewHeaderLength = record.headerLength;
        }
    }
    viewer_->SetSizeText(MailSizeText(static_cast<std::uint32_t>(viewSize)));
    viewer_->ResetProgress();
    engine_->StartOperation(kOperationView);
}

void CMainFrame::ShowPrevious(MailEntry* entry) {
    Step(entry, -1);
}

void CMainFrame::ShowNext(MailEntry* entry) {
    Step(entry, +1);
}

void CMainFrame::Step(MailEntry* entry, int direction) {
    const int row = list_->FindRow(entry);
    if (row < 0 || row + direction < 0 || row + direction >= list_->RowCount()) {
        return;
    }
    engine_->CancelOperation();
    list_->SetSelected(row, false);
    list_->SetSelected(row + direction, true);
    MailEntry* next = list_->RowEntry(row + direction);
    // The new fetch waits until the cancelled one has let go of the session;
    // by then the row may be gone.
    // An account switch in between frees the entry, and a new one may take
    // its address: the cache object's generation tells them apart.
    const std::uint64_t generation = engine_->MailboxGeneration();
    engine_->WhenIdle([this, next, generation] {
        if (engine_->MailboxGeneration() != generation || next == nullptr || list_->FindRow(next) < 0) {
            return;
        }
        if (viewer_ == nullptr) {
            if (!viewerFactory_ || (viewer_ = viewerFactory_(*this)) == nullptr) {
                return;
            }
            viewerWindow_ = viewer_->Window();
        }
        viewerWindow_->activateWindow();
        OpenEntry(next);
    });
}

void CMainFrame::OnDeleteMarked() {
    if (engine_->receiving) {
        return;
    }
    for (int row = 0; row < list_->RowCount(); ++row) {
        const int image = list_->MarkImage(row);
        if (image < 0) {
            return;
        }
        if (image == kImageMarked) {
            PromptRequest box;
            box.text = LoadString(IDS_DELETE_MARKED_QUESTION);
            box.caption = LoadString(57344);
            box.buttons = PromptButtons::YesNo;
            box.icon = PromptIcon::Exclamation;
            box.defaultAnswer = PromptAnswer::No;
            if (prompt_->Ask(box) == PromptAnswer::Yes) {
                engine_->StartOperation(kOperationDelete);
            }
            return;
        }
    }
}

void CMainFrame::OnClearCache() {
    engine_->ClearCache();
}

void CMainFrame::OnAccountSelect() {
    accountBar_->FocusAccountSelector();
}

void CMainFrame::OnAccountSettings() {
    if (accountDlg_) {
        accountDlg_->raise();
        accountDlg_->activateWindow();
        return;
    }
    auto* dialog = new CAccountDlg(*this, *prompt_, dataFolder_, profile_, this);
    if (!dialog->StoreWritable()) {
        // Another window's dialog or wrenpost-cli has the accounts: two
        // writers would overwrite each other's slots.
        PromptRequest box;
        box.text = dialog->RefusalText();
        box.caption = Sjis("ｱｶｳﾝﾄ設定");
        box.buttons = PromptButtons::Ok;
        box.icon = PromptIcon::Exclamation;
        delete dialog;
        prompt_->Ask(box);
        return;
    }
    accountDlg_ = dialog;
    accountDlg_->show();
}

void CMainFrame::OnHelp() {
    if (!OpenHelpPage()) {
        qWarning("wrenpost: the help page could not be opened");
    }
}

void CMainFrame::OnExit() {
    engine_->Exit();
}

void CMainFrame::OnAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::ShowOnAccount(const std::string& accountName) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    if (accountName.empty() || accountName == GetSelectedAccountName()) {
        return;
    }
    // As if the user picked it in the account bar (which asks first when
    // an operation runs).
    QComboBox* combo = accountBar_->AccountCombo();
    for (int i = 0; i < combo->count(); ++i) {
        // The bar keeps each item's account name (CP932) one role above its number.
        if (combo->itemData(i, Qt::UserRole + 1).toByteArray().toStdString() == accountName) {
            combo->setCurrentIndex(i);
            emit combo->activated(i);
            return;
        }
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The close button may leave the program running in the tray (the
    // exit command still ends it).
    if (!closingForGood_ && checker_ && checker_->Surface() != nullptr && KeepInTrayOnClose(profile_)) {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        hide();
        event->ignore();
        return;
    }
    if (closingForGood_ || engine_->CloseRequested()) {
        checker_->WindowClosed();
        if (!QGuiApplication::quitOnLastWindowClosed()) {
            // Hidden in the tray, closing ends no visible window: say it.
            QCoreApplication::quit();
        }
        closingForGood_ = true;
        event->accept();
        return;
    }
    // The running operation was asked to stop; the window closes when it has.
    event->ignore();
}

// ---------------------------------------------------------------- viewer

void CMainFrame::SetViewerFactory(ViewerFactory factory) {
    viewerFactory_ = std::move(factory);
    UpdateCommandUi();
}

CAccountDlg* CMainFrame::AccountDialog() const {
    return accountDlg_;
}

void CMainFrame::CancelOperation() {
    engine_->CancelOperation();
}

void CMainFrame::ViewerClosed() {
    viewer_ = nullptr;
    viewerWindow_ = nullptr;
    engine_->CancelOperation();
    checker_->ViewerClosed();
}

void CMainFrame::SetViewerSizeText(const std::string& text) {
    if (viewer_ != nullptr) {
        viewer_->SetSizeText(text);
    }
}

void CMainFrame::UpdateViewerCursor() {
    if (viewer_ != nullptr) {
        viewer_->SetWaitCursor(true);
    }
}

}  // namespace wp
