#pragma once
// The program's only top-level window: the message list with the toolbar,
// the account bar under it and the four-pane status bar. It owns what lives
// as long as the window (the read-only account store, the operation engine
// with its session and cache object, the viewer and the account settings
// dialog while they are open), turns commands into operations and keeps its
// layout in the profile.

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "accounts/widgets/account_frame.h"
#include "engine/frame_engine.h"
#include "engine/frame_view.h"
#include "mail/mail_entry.h"
#include "mail/retrieve_selected.h"
#include "ui/tarnpost_doc.h"

class QAction;
class QToolBar;
class QMenu;

namespace wp {

class CAccountDlg;
class CAccountList;
class MailChecker;
class Profile;
class CAccountBar;
class CTarnpostView;
class CRecvProgressDlg;
class StatusPanes;
struct MailEntry;

// What the frame needs of the viewer window besides the engine's hooks.
class FrameViewer : public ViewerHooks {
public:
    // The viewer's top-level window.
    virtual QWidget* Window() = 0;
    // The mail to show next; the title becomes its subject.
    virtual void SetEntry(MailEntry* entry) = 0;
    // The size box.
    virtual void SetSizeText(const std::string& text) = 0;
    // The receive progress back to 0 of kReceiveSteps.
    virtual void ResetProgress() = 0;
};

// What the viewer asks of the main frame.
class ViewerOwner {
public:
    virtual ~ViewerOwner() = default;
    // Stops the running mail operation (the cancel button, closing).
    virtual void CancelOperation() = 0;
    // Stops the running operation and shows the row before or after entry's.
    virtual void ShowPrevious(MailEntry* entry) = 0;
    virtual void ShowNext(MailEntry* entry) = 0;
    // The viewer is going: the frame forgets it and stops the running operation.
    virtual void ViewerClosed() = 0;
};

class CMainFrame : public QMainWindow, public FrameView, public AccountFrame, public ViewerOwner {
public:
    // dataFolder: the folder of the cache files; profile: where layout,
    // passwords and the selected account are kept. prompt: the message boxes
    // (nullptr: boxes of the frame's own).
    CMainFrame(std::string dataFolder, Profile& profile, Prompt* prompt = nullptr);
    ~CMainFrame() override;

    FrameEngine& Engine() { return *engine_; }
    // The periodic check with its tray icon.
    MailChecker& Checker() { return *checker_; }
    // Brings the window up (from the tray), on the named account when it
    // is not the one shown; an empty name keeps the account.
    void ShowOnAccount(const std::string& accountName);
    // The window's size when the profile has no rectangle yet: room for the
    // six columns and about twenty rows, within the screen.
    static QSize FirstStartSize();
    CTarnpostDoc& Document() { return document_; }
    Profile& AppProfile() { return profile_; }
    const std::string& DataFolder() const { return dataFolder_; }

    // ---- commands
    void OnReceive();
    void OnView();
    void OnDeleteMarked();
    void OnClearCache();
    void OnAccountSelect();
    void OnAccountSettings();
    void OnHelp();
    void OnExit();
    void OnAbout();
    // Command 32791: asks for a folder and saves the selected mails there.
    void OnSaveSelected();
    // The drop of a drag from the list: the selected mails into `folder`
    // under the names the list offered. True when the drop may go ahead.
    bool RetrieveForDrop(const std::string& folder);
    // The menu and toolbar states that follow the operation state.
    void UpdateCommandUi();

    // ---- for the viewer (ViewerOwner)
    void CancelOperation() override;
    void ViewerClosed() override;
    void ShowPrevious(MailEntry* entry) override;
    void ShowNext(MailEntry* entry) override;
    void SetViewerSizeText(const std::string& text);
    void UpdateViewerCursor();

    // Makes the viewer window for the view command: the program's viewer
    // unless another is set; none turns the view command off.
    using ViewerFactory = std::function<FrameViewer*(CMainFrame& frame)>;
    void SetViewerFactory(ViewerFactory factory);

    // Asks for the folder of the save command, starting in `start`: the
    // chosen path (UTF-8), or nullopt when none was confirmed. The folder
    // chooser unless another is set.
    using FolderAsker = std::function<std::optional<std::string>(const std::string& start)>;
    void SetFolderAsker(FolderAsker asker) { folderAsker_ = std::move(asker); }
    // What the last save or drop did.
    const RetrieveRun& LastRetrieve() const { return lastRun_; }
    // The receive progress dialog while it is open.
    CRecvProgressDlg* ProgressWindow() const { return progressDlg_; }
    // Runs once the progress dialog is open (tests act while it shows).
    std::function<void(CRecvProgressDlg&)> onProgressOpen;

    // ---- what the window shows (tests and the parts that plug in)
    QAction* Action(int id) const;
    QToolBar* ToolBar() const { return toolBar_; }
    QWidget* AccountBarWidget() const;
    QWidget* ListWidget() const;
    // nullptr while the account settings dialog is closed.
    CAccountDlg* AccountDialog() const;
    StatusPanes& Panes() const { return *panes_; }
    int PaneWidth(int pane) const;
    QString PaneText(int pane) const;
    bool ShowsRunningImages() const { return runningImages_; }

    // ---- FrameView
    const AccountInfo* SelectedAccount() override;
    std::string AccountText() override;
    std::string LoginIdText() override;
    std::string PasswordText() override;
    void SetPaneText(int pane, const std::string& text) override;
    void ResetProgress() override;
    void SetProgressRange(int total) override;
    void SetProgressPos(int position) override;
    void SetRunningImages(bool running) override;
    void SetDocumentTitle(const std::string& title) override;
    void FocusList() override;
    void CloseWindow() override;
    MailList& List() override;
    ViewerHooks* Viewer() override { return viewer_; }
    ProgressHooks* ProgressDialog() override;
    ProgressHooks* OpenProgressDialog(int lastIndex, int unit, int figure) override;
    void CloseProgressDialog() override;

    // ---- AccountFrame
    CAccountList& Accounts() override { return *accounts_; }
    bool OperationRunning() override;
    bool ConnectionAnswers() override;
    void CancelAndDisconnect() override;
    void LoadCachedList(const std::string& accountName) override;
    void ActivateFrame() override;
    std::string GetSelectedAccountName() override;
    void AccountSaved(const AccountRecord& record, std::string_view password) override;
    void ReloadAccounts() override;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateStatusBar();
    void CreateToolBar();
    void CreateAccountBar();
    void CreateListView();
    void CreateMenus();
    QAction* MakeAction(int id, const char* text, const QList<QKeySequence>& keys = {});
    void RestorePlacement();
    void SavePlacement();
    void UpdatePaneWidths();
    void UpdateTitle();
    void OpenEntry(MailEntry* entry);
    void InstallRetrieval();
    void Step(MailEntry* entry, int direction);

    std::string dataFolder_;
    Profile& profile_;
    std::unique_ptr<Prompt> ownPrompt_;
    Prompt* prompt_;
    std::unique_ptr<CAccountList> accounts_;
    CTarnpostDoc document_;

    StatusPanes* panes_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    CAccountBar* accountBar_ = nullptr;
    CTarnpostView* list_ = nullptr;
    std::map<int, QAction*> actions_;
    bool runningImages_ = false;

    std::unique_ptr<FrameEngine> engine_;
    // After the engine: it goes first, and its checks with it.
    std::unique_ptr<MailChecker> checker_;

    ViewerFactory viewerFactory_;
    FrameViewer* viewer_ = nullptr;
    QPointer<QWidget> viewerWindow_;
    std::int32_t viewSize = 0;
    std::int32_t viewHeaderLength = 0;
    // The entry being fetched, as it was when the fetch started: the worker
    // reads this copy, never the list.
    MailEntry viewEntry_;

    // The account settings dialog while it is open; it deletes itself.
    QPointer<CAccountDlg> accountDlg_;

    // Saving: 1 after the save command chose a folder, 0 after a drop.
    std::int32_t saveToFolder = 0;
    // Where the retrieval writes (ends with "/").
    std::string saveFolder_;
    std::string dropFolder_;
    RetrieveRun lastRun_;
    FolderAsker folderAsker_;
    CRecvProgressDlg* progressDlg_ = nullptr;

    // The exit has been carried out: the next close is final.
    bool closingForGood_ = false;
};

}  // namespace wp
