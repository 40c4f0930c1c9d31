#pragma once
// The machinery around one mail operation: the gate that starts it (and
// doubles as the cancel command), the request block, the worker thread that
// logs in, the notification handlers that finish the operation on the
// user-interface thread, and the decision when a login stays open. The main
// frame owns one; wrenpost-cli and the tests run it without a window.

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/frame_view.h"
#include "engine/mail_request.h"
#include "mail/delete_marked.h"
#include "mail/operation_context.h"
#include "net/pop3_session.h"
#include "platform/messages.h"
#include "platform/prompt.h"

namespace wp {

class CMailboxFiles;

enum OperationKind : int {
    kOperationList = 0,
    kOperationView = 1,
    kOperationDelete = 2,
    kOperationRetrieve = 4
};

// Completion codes of UM_OPERATIONDONE.
inline constexpr int kDoneClosedByServer = 0;
inline constexpr int kDoneListLogin = 1;
inline constexpr int kDoneDeleteLogin = 4;
inline constexpr int kDoneView = 5;

// A call to the viewer, queued by the worker (see PostViewerCall).
inline constexpr std::uint32_t UM_VIEWERCALL = WM_APP + 221;

// An operation that a later part of the program provides. The listing is
// built in; the others are plugged in here, and a kind whose operation is
// missing says so and ends cleanly.
struct MailOperations {
    // The deletion of the marked mails, on the user-interface thread after
    // the login: -1 failed before any DELE, -2 when stopped early, anything
    // else when done. The engine's own (DeleteMarked on the current cache
    // object) unless replaced; its report is LastDeletion.
    std::function<int(OperationContext&)> deleteMarked;
    // The fetch for viewing, on the worker thread: -1 failed, -2 the mail is
    // no longer on the server, anything else success.
    std::function<int(OperationContext&)> fetchForView;
    // The retrieval for saving or dragging, on the user-interface thread,
    // with the progress dialog open: -1 when failed, -2 when stopped,
    // anything else success.
    std::function<int(OperationContext&, ProgressHooks*)> retrieveSelected;
};

class FrameEngine : private MessageHandler, public SessionHost {
public:
    FrameEngine(FrameView& view, Prompt& prompt, std::string dataFolder);
    // Cancels a running operation and waits for its worker, serving what the
    // worker waits for on this thread meanwhile (a message box, the idle
    // watch, a sent message) and nothing else; then joins it.
    ~FrameEngine() override;
    FrameEngine(const FrameEngine&) = delete;
    FrameEngine& operator=(const FrameEngine&) = delete;

    // The main frame's window: the worker and the session post to it.
    Window* FrameWindow() const { return window_.get(); }
    const std::string& DataFolder() const { return dataFolder_; }

    // The gate. While an operation runs it starts nothing: kind 0 cancels
    // the running one instead, every other kind does nothing.
    void StartOperation(int kind);
    bool LaunchWorker(int kind);
    // Asks the running operation to stop at its next check.
    void CancelOperation();
    // Ends the login (QUIT only when sendQuit) and resets the connection state.
    void Disconnect();
    // True when a logged-in connection answers.
    bool CheckConnection();
    // Ends a live connection that belongs to other account data.
    void CheckAccountChanged();
    // figure replaces a "%d" of the text.
    void PostFrameStatus(int id, int figure = 0);
    void SendProgressRange(int done, int total);
    void SendProgressPos(int position);

    // The exit command: deferred while an operation runs.
    void Exit();
    // Closing the window: true when it may close now; otherwise the running
    // operation is cancelled and the window closes when it has ended.
    bool CloseRequested();

    // The account switch: the named account's cache object replaces the
    // current one and its cached list is shown. Waits for a running operation
    // to end first: the cache object is never replaced under it.
    void SwitchAccount(const std::string& accountName);
    // The cache-clear command.
    void ClearCache();
    // Runs fn now when no operation runs, else once the running one has
    // ended. Waiting ones run in the order they came; when one of them starts
    // an operation, the rest wait for that one to end.
    void WhenIdle(std::function<void()> fn);
    // From any thread: runs call on the viewer on the user-interface thread,
    // after everything posted to the frame before it; dropped when no viewer
    // is open by then. The caller never waits, so a viewer closed meanwhile
    // is never written to and the worker never blocks on the window.
    // noViewer, when given, runs instead of a call that found no viewer.
    void PostViewerCall(std::function<void(ViewerHooks&)> call, std::function<void()> noViewer = {});

    CMailboxFiles* Mailbox() { return mailbox_.get(); }
    // Changes whenever the cache object is replaced (its entries with it):
    // whoever keeps an entry across a wait compares it before using it.
    std::uint64_t MailboxGeneration() const { return mailboxGeneration_; }
    CPop3Session& Session() { return session_; }
    MailOperations& Operations() { return operations_; }
    // What the last deletion of marked mails did, row by row, settled by the
    // answer to its QUIT.
    const DeletionReport& LastDeletion() const { return lastDeletion_; }
    // The context an operation works in.
    OperationContext MakeContext();

    // The last selection summary: its size unit and figure.
    int selectionUnit = 0;
    int selectionFigure = 0;

    std::atomic<std::int32_t> receiving{0};
    std::atomic<std::int32_t> starting{0};
    std::atomic<std::int32_t> sessionAlive{0};
    std::atomic<std::int32_t> sendQuit{1};
    std::atomic<std::int32_t> exitPending{0};
    std::atomic<std::int32_t> retrieveDone{0};
    std::atomic<std::int32_t> retrieveFailed{0};
    // Set by the retrieval when not every mail was saved: the closing status
    // of kind 4 instead of "ﾒｯｾｰｼﾞの受信が完了しました。" (CP932).
    std::string retrieveReport;
    MailRequest request{};
    // Runs when the gate lets an operation start, before it starts (the
    // periodic check makes way for the user's work). False: nothing starts
    // now; the hook may start the operation again once the way is clear.
    std::function<bool(int kind)> onStart;

    // The handlers of the frame's messages.
    void OnOperationDone(int code, LParam tag = 0);
    void OnStatusText(int id, int figure = 0);
    void OnProgressRange(WParam wParam);
    void OnProgressPos(WParam wParam);
    void OnSelectionInfo(WParam wParam, LParam lParam);

private:
    static int ListWorker(FrameEngine* frame);
    static int DeleteWorker(FrameEngine* frame);
    static int ViewWorker(FrameEngine* frame);
    void StartWorker(int (*procedure)(FrameEngine*));
    // A message box asked by the worker, shown on this thread unless the
    // engine is going.
    void AskFromWorker(const PromptRequest& box);
    // Whether the account of the running operation is still in AccData.dat
    // as the operation found it.
    bool AccountStillValid() const;
    int LoginWorker(int doneCode);
    void FinishDeletion(OperationContext& context);
    bool RetrieveAndSave();
    void CommonEnding();
    void RunWaiting();
    void CarryOutExit();
    void JoinWorker();
    void ShowLoginRefused();
    // Logs in; a certificate the session refused is offered to the user, and
    // once trusted it is pinned with the account and the login runs again.
    int LoginWithTrust();
    bool OfferTrust();
    void NotAvailable();

    LResult HandleMessage(std::uint32_t msg, WParam wParam, LParam lParam) override;

    // SessionHost: the current cache object and the viewer and progress hooks.
    std::string ResponseFilePath() override;
    void AppendCapture(const char* data, std::size_t length) override;
    void ProgressAddBytes(int count) override;
    void ClearViewerText() override;
    void AppendViewerText(const char* data, std::size_t length, int bytesReceived) override;

    FrameView& view_;
    Prompt& prompt_;
    std::string dataFolder_;
    CMailSocket socket_;
    CPop3Session session_;
    std::unique_ptr<Window> window_;
    std::thread worker_;
    std::unique_ptr<CMailboxFiles> mailbox_;
    MailOperations operations_;
    DeletionReport lastDeletion_;
    std::deque<std::function<void()>> whenIdle_;
    bool draining_ = false;
    std::uint64_t mailboxGeneration_ = 0;
    std::mutex viewerCallsMutex_;
    struct ViewerCall {
        std::function<void(ViewerHooks&)> call;
        std::function<void()> noViewer;
    };
    std::deque<ViewerCall> viewerCalls_;
    // What the kept connection logged in with; a new request for anything
    // else must not reuse it.
    MailRequest liveLogin_{};
    // The protection of the request and of the kept connection, and the
    // certificates trusted in this run (by account name and server text).
    struct Security {
        TlsMode mode = TlsMode::kNone;
        Fingerprint pin{};
        bool operator==(const Security&) const = default;
    };
    Security requestSecurity_;
    Security liveSecurity_;
    std::map<std::pair<std::string, std::string>, Fingerprint> trusted_;
    // The selected account's server text when the request was filled.
    std::string requestServer_;
    bool requestListed_ = false;
    // Read by the worker.
    std::atomic<bool> closing_{false};
    std::atomic<bool> workerDone_{true};
};

}  // namespace wp
