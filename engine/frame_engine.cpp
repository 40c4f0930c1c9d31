#include "engine/frame_engine.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "accounts/account_info.h"
#include "accounts/account_list.h"
#include "accounts/account_rules.h"
#include "platform/profile.h"
#include "decode/date_size_text.h"
#include "mail/mailbox_files.h"
#include "mail/run_listing.h"
#include "platform/string_table.h"
#include "platform/strings.h"

namespace wp {
namespace {

bool SameLogin(const MailRequest& a, const MailRequest& b) {
    return std::strcmp(a.accountName, b.accountName) == 0 && std::strcmp(a.host, b.host) == 0 &&
           a.port == b.port && a.useApop == b.useApop && std::strcmp(a.loginId, b.loginId) == 0 &&
           std::strcmp(a.password, b.password) == 0;
}

}  // namespace

FrameEngine::FrameEngine(FrameView& view, Prompt& prompt, std::string dataFolder)
    : view_(view), prompt_(prompt), dataFolder_(std::move(dataFolder)), session_(socket_) {
    window_ = MakeQtWindow(*this);
    operations_.deleteMarked = [this](OperationContext& context) {
        return mailbox_ ? DeleteMarked(*mailbox_, context, &lastDeletion_) : -1;
    };
}

FrameEngine::~FrameEngine() {
    closing_ = true;
    whenIdle_.clear();
    if (worker_.joinable()) {
        // The worker ends at its next check; its last post is dropped with
        // the window. Until then it may be waiting for this thread: joining
        // at once would wait for ever.
        session_.cancel = 1;
        while (!workerDone_) {
            ServeBlockedCalls(window_.get());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        worker_.join();
    }
    session_.SetIdleWatch(false);
    if (sessionAlive) {
        session_.Quit(sendQuit != 0);
    }
    window_.reset();
}

// ---------------------------------------------------------------- the gate

void FrameEngine::StartOperation(int kind) {
    if (kind == kOperationList && receiving) {
        CancelOperation();
        return;
    }
    // One operation at a time: a second start (Next pressed twice, a queued
    // callback) would join the running worker on this thread while that
    // worker waits for this thread.
    if (receiving || closing_) {
        return;
    }
    if (starting) {
        return;
    }
    starting = 1;
    if (onStart && !onStart(kind)) {
        // Held back: a caller that reads a retrieval's outcome at once must
        // not find the last one's.
        if (kind == kOperationRetrieve) {
            retrieveDone = 0;
            retrieveFailed = 0;
        }
        starting = 0;
        return;
    }
    view_.SetPaneText(1, std::string());
    view_.SetPaneText(3, std::string());
    view_.ResetProgress();
    if (view_.SelectedAccount() != nullptr) {
        session_.cancel = 0;
        view_.SetRunningImages(true);
        receiving = 1;
        if (!LaunchWorker(kind)) {
            receiving = 0;
            view_.SetRunningImages(false);
        }
    }
    starting = 0;
}

bool FrameEngine::LaunchWorker(int kind) {
    session_.frameWnd = window_.get();
    if (!session_.Prepare(window_.get(), this)) {
        PostFrameStatus(IDS_STATUS_PREPARE_FAILED);
        session_.SetIdleWatch(false);
        return false;
    }
    const AccountInfo* account = view_.SelectedAccount();
    if (account == nullptr) {
        return false;
    }
    FillRequest(request, account->Name(), account->Server(), account->UsesApop() ? 1 : 0, view_.LoginIdText(),
                view_.PasswordText());
    requestServer_ = std::string(account->Server());
    // Only an account that AccData.dat holds can be found gone later.
    requestListed_ = AccountListed(dataFolder_, request.accountName, requestServer_);
    requestSecurity_.mode = TlsModeFromStored(account->TlsModeValue());
    requestSecurity_.pin = account->PinnedCert();
    if (auto it = trusted_.find({request.accountName, requestServer_}); it != trusted_.end()) {
        requestSecurity_.pin = it->second;
    }
    if (requestSecurity_.mode == TlsMode::kTls && requestServer_.find(':') == std::string::npos) {
        request.port = 995;  // POP3S's own port when the user typed none
    }
    session_.SetLogin(request.host, request.port, request.loginId, request.password, request.useApop);
    session_.SetSecurity(requestSecurity_.mode, requestSecurity_.pin);
    if (!mailbox_) {
        mailbox_ = std::make_unique<CMailboxFiles>(request.accountName, dataFolder_);
        ++mailboxGeneration_;
    }
    JoinWorker();
    switch (kind) {
        case kOperationList:
            StartWorker(ListWorker);
            return true;
        case kOperationDelete:
            StartWorker(DeleteWorker);
            return true;
        case kOperationView:
            StartWorker(ViewWorker);
            return true;
        case kOperationRetrieve:
            retrieveDone = 0;
            retrieveFailed = 0;
            RetrieveAndSave();
            return true;
        default:
            // Not a kind of operation: nothing starts, and the gate says so.
            return false;
    }
}

void FrameEngine::CancelOperation() {
    if (!receiving) {
        return;
    }
    view_.SetRunningImages(false);
    session_.cancel = 1;
}

void FrameEngine::Disconnect() {
    view_.SetRunningImages(false);
    session_.Quit(sendQuit != 0);
    sendQuit = 1;
    sessionAlive = 0;
    session_.SetIdleWatch(false);
}

bool FrameEngine::CheckConnection() {
    int result = session_.Noop(nullptr);
    while (result == 2 && !session_.cancel) {
        YieldProcessor();
        DispatchPendingMessages();
        result = session_.Noop(nullptr);
    }
    if (session_.reply[0] != '\0') {
        result = session_.Noop(nullptr);
    } else {
        result = (result == 2 && session_.cancel) ? 1 : 0;
    }
    if (result == 0) {
        sessionAlive = 0;
        return false;
    }
    if (result == 1) {
        sessionAlive = 1;
    }
    return true;
}

void FrameEngine::CheckAccountChanged() {
    if (!CheckConnection()) {
        return;
    }
    // The kept connection was logged in for other account data: it must not
    // serve this request. (Comparing the bar with a request that was just
    // filled from it would never find a difference.)
    if (!SameLogin(liveLogin_, request) || !(liveSecurity_ == requestSecurity_)) {
        session_.Quit(true);
        sessionAlive = 0;
    }
}

void FrameEngine::PostFrameStatus(int id, int figure) {
    if (window_) {
        window_->Post(UM_STATUSTEXT, static_cast<WParam>(id), static_cast<LParam>(figure));
    }
}

void FrameEngine::SendProgressRange(int done, int total) {
    window_->Send(
        UM_PROGRESSRANGE,
        MakeLong(static_cast<std::uint16_t>(done & 0xFFFF), static_cast<std::uint16_t>(total & 0xFFFF)), 0);
}

void FrameEngine::SendProgressPos(int position) {
    window_->Send(UM_PROGRESSPOS, static_cast<WParam>(position & 0xFFFF), 0);
}

OperationContext FrameEngine::MakeContext() {
    return OperationContext{
        session_,
        view_.List(),
        prompt_,
        [this] { return CheckConnection(); },
        [this](int done, int total) { SendProgressRange(done, total); },
        [this](int position) { SendProgressPos(position); },
        [this](int id) { PostFrameStatus(id); },
        [this] { return AccountStillValid(); },
    };
}

bool FrameEngine::AccountStillValid() const {
    return !requestListed_ || AccountListed(dataFolder_, request.accountName, requestServer_);
}

void FrameEngine::StartWorker(int (*procedure)(FrameEngine*)) {
    workerDone_ = false;
    worker_ = std::thread([this, procedure] {
        procedure(this);
        workerDone_ = true;
    });
}

void FrameEngine::AskFromWorker(const PromptRequest& box) {
    RunOnUiThread([&] {
        if (!closing_) {
            prompt_.Ask(box);
        }
    });
}

// ---------------------------------------------------------------- workers

void FrameEngine::ShowLoginRefused() {
    PromptRequest box;
    box.text = LoadString(IDS_LOGIN_REFUSED);
    box.caption = Sjis("ｴﾗｰ");
    box.buttons = PromptButtons::Ok;
    box.icon = PromptIcon::Exclamation;
    AskFromWorker(box);
}

int FrameEngine::LoginWithTrust() {
    int code = session_.Login();
    if (code == kLoginCertRefused && OfferTrust()) {
        session_.SetSecurity(requestSecurity_.mode, requestSecurity_.pin);
        code = session_.Login();
    }
    return code;
}

// On the worker: the refused certificate, its reason and fingerprint, put to
// the user; a yes pins it with the account in AccData.dat (and for this run
// whatever the file allows).
bool FrameEngine::OfferTrust() {
    const Fingerprint print = session_.RefusedFingerprint();
    if (IsEmptyFingerprint(print)) {
        return false;
    }
    PromptRequest box;
    box.text = session_.DetailText() + Sjis("\n\nこの証明書をこのアカウントで信頼して接続しますか？");
    box.caption = Sjis("証明書の確認");
    box.buttons = PromptButtons::YesNo;
    box.icon = PromptIcon::Exclamation;
    box.defaultAnswer = PromptAnswer::No;
    PromptAnswer answer = PromptAnswer::No;
    bool stored = false;
    RunOnUiThread([&] {
        if (closing_) {
            return;
        }
        answer = prompt_.Ask(box);
        if (answer != PromptAnswer::Yes) {
            return;
        }
        trusted_[{request.accountName, requestServer_}] = print;
        Profile profile;
        CAccountList store(false, dataFolder_, profile);
        int number = store.Writable() ? FindAccount(store, request.accountName) : 0;
        AccountInfo* account = number != 0 ? store.Lookup(number) : nullptr;
        if (account != nullptr && account->Server() == requestServer_) {
            account->SetPinnedCert(print);
            stored = store.SaveAccount(*account);
        }
    });
    if (answer != PromptAnswer::Yes) {
        return false;
    }
    requestSecurity_.pin = print;
    if (!stored) {
        PromptRequest note;
        note.text = Sjis("証明書の信頼をアカウントに保存できませんでした。この実行の間だけ信頼します。");
        note.caption = Sjis("証明書の確認");
        note.icon = PromptIcon::Exclamation;
        AskFromWorker(note);
    }
    return true;
}

int FrameEngine::LoginWorker(int doneCode) {
    session_.SetIdleWatch(false);
    CheckAccountChanged();
    sendQuit = 1;
    int ok = 0;
    if (CheckConnection()) {
        sessionAlive = 1;
        ok = 1;
    } else {
        int code = LoginWithTrust();
        if (code == kLoginOk) {
            sessionAlive = 1;
            liveLogin_ = request;
            liveSecurity_ = requestSecurity_;
            ok = 1;
        } else if (code >= kLoginUserRefused && code <= kLoginNoApop) {
            ShowLoginRefused();
        }
    }
    session_.SetIdleWatch(true);
    if (!closing_) {
        window_->Post(UM_OPERATIONDONE, static_cast<WParam>(doneCode), 0);
    }
    return ok;
}

int FrameEngine::ListWorker(FrameEngine* frame) {
    return frame->LoginWorker(kDoneListLogin);
}

int FrameEngine::DeleteWorker(FrameEngine* frame) {
    return frame->LoginWorker(kDoneDeleteLogin);
}

int FrameEngine::ViewWorker(FrameEngine* frame) {
    FrameEngine& f = *frame;
    auto viewer = [&](const std::function<void(ViewerHooks&)>& act) {
        RunOnUiThread([&] {
            if (f.closing_) {
                return;
            }
            if (ViewerHooks* v = f.view_.Viewer()) {
                act(*v);
            }
        });
    };
    f.session_.SetIdleWatch(false);
    f.CheckAccountChanged();
    viewer([](ViewerHooks& v) { v.BeginReceive(); });
    f.sendQuit = 1;
    bool closed = false;
    int ok = 0;
    bool loggedIn = f.CheckConnection();
    if (!loggedIn) {
        viewer([](ViewerHooks& v) { v.SetStatusText(LoadString(IDS_STATUS_LOGGING_IN)); });
        int code = f.LoginWithTrust();
        if (code == kLoginOk) {
            f.liveLogin_ = f.request;
            f.liveSecurity_ = f.requestSecurity_;
            loggedIn = true;
        } else {
            viewer([](ViewerHooks& v) { v.PostClose(); });
            closed = true;
            if (code >= kLoginUserRefused && code <= kLoginNoApop) {
                f.ShowLoginRefused();
            }
        }
    }
    if (loggedIn) {
        viewer([](ViewerHooks& v) { v.SetStatusText(std::string()); });
        f.PostFrameStatus(IDS_STATUS_RECEIVING);
        int result = 0;
        if (f.operations_.fetchForView) {
            OperationContext context = f.MakeContext();
            result = f.operations_.fetchForView(context);
            if (result == -1) {
                f.PostFrameStatus(IDS_STATUS_MESSAGE_PARTIAL);
                f.sendQuit = 0;
            } else if (result == -2) {
                f.PostFrameStatus(IDS_STATUS_MESSAGE_NOT_FOUND);
            } else {
                f.PostFrameStatus(IDS_STATUS_MESSAGE_DONE);
            }
        } else {
            f.NotAvailable();
        }
        f.sessionAlive = 1;
        ok = 1;
    }
    if (!closed) {
        viewer([](ViewerHooks& v) { v.EndReceive(); });
    }
    f.session_.SetIdleWatch(true);
    if (!f.closing_) {
        f.window_->Post(UM_OPERATIONDONE, kDoneView, 0);
    }
    return ok;
}

bool FrameEngine::RetrieveAndSave() {
    session_.SetIdleWatch(false);
    CheckAccountChanged();
    sendQuit = 1;
    bool success = false;
    bool loggedIn = CheckConnection();
    if (!loggedIn) {
        int code = LoginWithTrust();
        if (code == kLoginOk) {
            liveLogin_ = request;
            liveSecurity_ = requestSecurity_;
            loggedIn = true;
        } else if (code >= kLoginUserRefused && code <= kLoginNoApop) {
            ShowLoginRefused();
        }
    }
    if (loggedIn) {
        sessionAlive = 1;
        session_.SetIdleWatch(true);
        JoinWorker();
        if (CheckConnection()) {
            PostFrameStatus(IDS_STATUS_LOGGED_IN);
            view_.SetDocumentTitle(request.accountName);
            PostFrameStatus(IDS_STATUS_RECEIVING);
            PostFrameStatus(IDS_STATUS_RECEIVING);
            int selected = 0;
            MailList& list = view_.List();
            for (int row = 0; row < list.RowCount(); ++row) {
                selected += list.IsSelected(row) ? 1 : 0;
            }
            ProgressHooks* progress = view_.OpenProgressDialog(selected - 1, selectionUnit, selectionFigure);
            retrieveReport.clear();
            int result = -1;
            if (operations_.retrieveSelected) {
                OperationContext context = MakeContext();
                result = operations_.retrieveSelected(context, progress);
            } else {
                NotAvailable();
            }
            view_.CloseProgressDialog();
            // A run the user stopped is no success either: a drop of it
            // would hand over files that were never written.
            if (result == -1 || result == -2) {
                CancelOperation();
                PostFrameStatus(IDS_STATUS_RETRIEVE_STOPPED);
                session_.Quit(sendQuit != 0);
                sessionAlive = 0;
            } else {
                view_.FocusList();
                CancelOperation();
                session_.Quit(sendQuit != 0);
                sessionAlive = 0;
                if (retrieveReport.empty()) {
                    PostFrameStatus(IDS_STATUS_MESSAGE_DONE);
                } else {
                    PostFrameStatus(IDS_STATUS_RETRIEVE_REPORT);
                }
                success = true;
            }
        }
    }
    session_.SetIdleWatch(true);
    retrieveDone = 1;
    retrieveFailed = success ? 0 : 1;
    CommonEnding();
    return success;
}

void FrameEngine::NotAvailable() {
    // A kind of operation whose work this build does not have yet.
    PostFrameStatus(IDS_STATUS_NOT_AVAILABLE);
}

void FrameEngine::JoinWorker() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

// ---------------------------------------------------------------- completion

void FrameEngine::OnOperationDone(int code, LParam tag) {
    if (code == kDoneClosedByServer) {
        if (!session_.IsCurrentCloseNotice(tag)) {
            return;  // an operation has the connection since; it finds out itself
        }
        sendQuit = 0;
        Disconnect();
        return;
    }
    if (code == kDoneListLogin || code == kDoneDeleteLogin) {
        JoinWorker();
        if (CheckConnection()) {
            sessionAlive = 1;
            PostFrameStatus(IDS_STATUS_LOGGED_IN);
            view_.SetDocumentTitle(request.accountName);
            OperationContext context = MakeContext();
            if (code == kDoneListLogin) {
                PostFrameStatus(IDS_STATUS_RECEIVING);
                int result = RunListing(*mailbox_, context);
                if (result > 0) {
                    view_.FocusList();
                }
                CancelOperation();
                if (result == -2) {
                    PostFrameStatus(IDS_STATUS_LIST_PARTIAL);
                } else if (result == -1) {
                    PostFrameStatus(IDS_STATUS_RECEIVE_FAILED);
                } else if (result == 0) {
                    PostFrameStatus(IDS_STATUS_NO_MESSAGES);
                }
                session_.Quit(sendQuit != 0);
                sessionAlive = 0;
                if (result > 0) {
                    PostFrameStatus(IDS_STATUS_LIST_DONE);
                }
            } else {
                FinishDeletion(context);
            }
        }
    } else if (code == kDoneView) {
        JoinWorker();
        if (!sendQuit) {
            CancelOperation();
            session_.Quit(false);
            sessionAlive = 0;
        }
    }
    CommonEnding();
}

void FrameEngine::FinishDeletion(OperationContext& context) {
    PostFrameStatus(IDS_STATUS_DELETING);
    lastDeletion_ = DeletionReport{};
    if (!operations_.deleteMarked) {
        NotAvailable();
        CancelOperation();
        session_.Quit(sendQuit != 0);
        sessionAlive = 0;
        return;
    }
    const int result = operations_.deleteMarked(context);
    lastDeletion_.result = result == -1 || result == -2 ? result : 0;
    view_.SetRunningImages(false);
    // The server carries the DELEs out only on QUIT, so its answer is waited
    // for even after a cancel (a new cancel, or the inactivity time-out,
    // still ends the wait: the deletions then count as not done).
    session_.cancel = 0;
    bool acknowledged = false;
    if (sendQuit != 0) {
        acknowledged = session_.Command("QUIT\r\n", 6, nullptr) == 1;
    }
    session_.Quit(false);
    sessionAlive = 0;
    if (mailbox_) {
        SettleDeletion(*mailbox_, view_.List(), lastDeletion_, acknowledged);
    } else {
        lastDeletion_.settled = true;
        lastDeletion_.quitAcknowledged = acknowledged;
    }
    const int status = DeletionStatusId(lastDeletion_);
    PostFrameStatus(status, status == IDS_STATUS_NOT_DELETED_COUNT ? lastDeletion_.NotDeleted() : 0);
}

void FrameEngine::CommonEnding() {
    receiving = 0;
    view_.SetRunningImages(false);
    if (exitPending) {
        exitPending = 0;
        CarryOutExit();
        return;
    }
    RunWaiting();
}

void FrameEngine::RunWaiting() {
    // Whatever waited for the operation to end goes on now, in order, until
    // one of them starts an operation: the rest wait for that one's ending.
    // (An operation that ends inside one of them leaves the rest to this loop.)
    if (draining_) {
        return;
    }
    draining_ = true;
    while (!whenIdle_.empty() && !receiving && !closing_) {
        std::function<void()> fn = std::move(whenIdle_.front());
        whenIdle_.pop_front();
        fn();
    }
    draining_ = false;
}

void FrameEngine::WhenIdle(std::function<void()> fn) {
    if (closing_) {
        return;
    }
    // Behind those still waiting, so the order of requests is kept.
    whenIdle_.push_back(std::move(fn));
    if (!receiving) {
        RunWaiting();
    }
}

void FrameEngine::PostViewerCall(std::function<void(ViewerHooks&)> call, std::function<void()> noViewer) {
    {
        std::lock_guard lock(viewerCallsMutex_);
        viewerCalls_.push_back({std::move(call), std::move(noViewer)});
    }
    window_->Post(UM_VIEWERCALL, 0, 0);
}

void FrameEngine::OnStatusText(int id, int figure) {
    if (id == 0) {
        view_.SetPaneText(3, std::string());
        return;
    }
    if (id == IDS_STATUS_RETRIEVE_REPORT) {
        view_.SetPaneText(3, retrieveReport);
        return;
    }
    std::string text = LoadString(id);
    std::size_t at = text.find("%s");
    if (at != std::string::npos) {
        const AccountInfo* account = view_.SelectedAccount();
        if (account == nullptr) {
            return;
        }
        text.replace(at, 2, std::string(account->Server()));
    }
    if (std::size_t number = text.find("%d"); number != std::string::npos) {
        text.replace(number, 2, std::to_string(figure));
    }
    view_.SetPaneText(3, text);
}

void FrameEngine::OnProgressRange(WParam wParam) {
    int done = LoWord(wParam);
    int total = HiWord(wParam);
    view_.SetPaneText(1, ProgressStatusText(done, total));
    view_.SetProgressRange(total);
}

void FrameEngine::OnProgressPos(WParam wParam) {
    view_.SetProgressPos(LoWord(wParam));
}

void FrameEngine::OnSelectionInfo(WParam wParam, LParam lParam) {
    auto code = static_cast<std::uint32_t>(lParam);
    selectionUnit = HiWord(code);
    selectionFigure = LoWord(code);
    view_.SetPaneText(0, SelectionStatusText(LoWord(wParam), code));
}

LResult FrameEngine::HandleMessage(std::uint32_t msg, WParam wParam, LParam lParam) {
    // A report that reaches the engine while it goes has nobody to act on it.
    if (closing_) {
        return 0;
    }
    switch (msg) {
        case UM_OPERATIONDONE:
            OnOperationDone(static_cast<int>(wParam), lParam);
            return 0;
        case UM_STATUSTEXT:
            OnStatusText(static_cast<int>(wParam), static_cast<int>(lParam));
            return 0;
        case UM_PROGRESSRANGE:
            OnProgressRange(wParam);
            return 0;
        case UM_PROGRESSPOS:
            OnProgressPos(wParam);
            return 0;
        case UM_SELECTIONINFO:
            OnSelectionInfo(wParam, lParam);
            return 0;
        case UM_VIEWERCALL: {
            ViewerCall call;
            {
                std::lock_guard lock(viewerCallsMutex_);
                if (viewerCalls_.empty()) {
                    return 0;
                }
                call = std::move(viewerCalls_.front());
                viewerCalls_.pop_front();
            }
            if (ViewerHooks* viewer = view_.Viewer()) {
                call.call(*viewer);
            } else if (call.noViewer) {
                call.noViewer();
            }
            return 0;
        }
        default:
            return 0;
    }
}

// ---------------------------------------------------------------- exit

void FrameEngine::Exit() {
    if (receiving) {
        CancelOperation();
        exitPending = 1;
        return;
    }
    CarryOutExit();
}

void FrameEngine::CarryOutExit() {
    PostFrameStatus(IDS_STATUS_DISCONNECTING);
    receiving = 1;  // nothing may start while the window closes
    session_.SetIdleWatch(false);
    session_.Quit(true);
    sessionAlive = 0;
    if (mailbox_) {
        mailbox_->ClearList(view_.List());
    }
    view_.CloseWindow();
}

bool FrameEngine::CloseRequested() {
    if (receiving) {
        CancelOperation();
        exitPending = 1;
        return false;
    }
    if (mailbox_) {
        mailbox_->ClearList(view_.List());
    }
    return true;
}

// ---------------------------------------------------------------- accounts and cache

void FrameEngine::SwitchAccount(const std::string& accountName) {
    WhenIdle([this, accountName] {
        // The rows point into the old cache object's entries: they go first,
        // so nothing can paint a row whose entry is gone.
        if (mailbox_) {
            mailbox_->ClearList(view_.List());
        }
        mailbox_.reset();
        mailbox_ = std::make_unique<CMailboxFiles>(accountName, dataFolder_);
        ++mailboxGeneration_;
        view_.SetPaneText(1, std::string());
        view_.SetPaneText(3, std::string());
        view_.ResetProgress();
        LoadCachedList(
            *mailbox_, view_.List(), prompt_, [this](int done, int total) { SendProgressRange(done, total); },
            [this](int position) { SendProgressPos(position); }, [this](int id) { PostFrameStatus(id); });
    });
}

void FrameEngine::ClearCache() {
    if (receiving) {
        CancelOperation();
    }
    if (mailbox_) {
        wp::ClearCache(*mailbox_, prompt_);
    }
}

// ---------------------------------------------------------------- session host

std::string FrameEngine::ResponseFilePath() {
    return mailbox_ ? mailbox_->lstPath + "_" : std::string();
}

void FrameEngine::AppendCapture(const char* data, std::size_t length) {
    if (mailbox_) {
        mailbox_->AppendCapture(data, length);
    }
}

void FrameEngine::ProgressAddBytes(int count) {
    if (IsUiThread()) {
        if (ProgressHooks* progress = view_.ProgressDialog()) {
            progress->AddBytes(count);
        }
    }
}

void FrameEngine::ClearViewerText() {
    RunOnUiThread([&] {
        if (ViewerHooks* viewer = view_.Viewer()) {
            viewer->ClearMailText();
        }
    });
}

void FrameEngine::AppendViewerText(const char* data, std::size_t length, int bytesReceived) {
    RunOnUiThread([&] {
        if (ViewerHooks* viewer = view_.Viewer()) {
            viewer->AppendReceivedText(data, length, bytesReceived);
        }
    });
}

}  // namespace wp
