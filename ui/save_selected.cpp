// The main frame's side of saving mails: the save command with its folder
// chooser, the drop of a drag, the retrieval they run as operation kind 4
// and its progress dialog.

#include <QDir>
#include <QFile>

#include "mail/mailbox_files.h"
#include "platform/profile.h"
#include "platform/string_table.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "ui/folder_chooser.h"
#include "ui/main_frame.h"
#include "ui/message_list_view.h"
#include "ui/recv_progress_dlg.h"

namespace wp {
namespace {

constexpr int kAppTitleId = 57344;

QString FromDisk(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

}  // namespace

void CMainFrame::InstallRetrieval() {
    folderAsker_ = [this](const std::string& start) -> std::optional<std::string> {
        CFolderChooser chooser(QString::fromUtf8("保存するフォルダを選択"), QString::fromUtf8("メール保存"),
                               FromDisk(start), *prompt_, this);
        if (chooser.Run() != 1) {
            return std::nullopt;
        }
        return chooser.GetPath();
    };
    list_->dropRetrieval = [this](const std::string& folder) { return RetrieveForDrop(folder); };
    engine_->Operations().retrieveSelected = [this](OperationContext& context, ProgressHooks* progress) {
        CMailboxFiles* mailbox = engine_->Mailbox();
        lastRun_ = RetrieveRun();
        if (mailbox == nullptr) {
            return -1;
        }
        lastRun_.forDrag = saveToFolder == 0;
        lastRun_.folder = saveToFolder != 0 ? saveFolder_ : dropFolder_;
        lastRun_.names = &list_->fileNames;
        lastRun_.progress = progress;
        const int result = RetrieveSelected(*mailbox, context, lastRun_);
        engine_->retrieveReport = RetrieveReportText(lastRun_);
        lastRun_.progress = nullptr;
        lastRun_.names = nullptr;
        return result;
    };
}

void CMainFrame::OnSaveSelected() {
    if (engine_->receiving) {
        return;
    }
    list_->fileNames.Clear();
    bool any = false;
    for (int row = 0; row < list_->RowCount() && !any; ++row) {
        any = list_->IsSelected(row);
    }
    if (!any) {
        return;
    }
    const QString current = QDir::currentPath();
    const QByteArray start = QFile::encodeName(current);
    std::optional<std::string> chosen = folderAsker_ ? folderAsker_(start.toStdString()) : std::nullopt;
    // A chooser left with Cancel saves nothing.
    if (chosen && !chosen->empty()) {
        std::string folder = *chosen;
        if (folder.back() != '/') {
            folder += '/';
        }
        const QString shown = FromDisk(folder);
        std::optional<std::string> kept = QStringToCp932(shown);
        profile_.SetString("WinPosition", "DlgPath", kept ? *kept : folder);
        saveFolder_ = folder;
        lastRun_ = RetrieveRun();
        NameSelectedRows(*list_, list_->fileNames, folder);
        saveToFolder = 1;
        engine_->StartOperation(kOperationRetrieve);
        if (engine_->retrieveDone != 0 && !lastRun_.notSaved.empty()) {
            PromptRequest request;
            request.text = NotSavedBoxText(lastRun_);
            request.caption = LoadString(kAppTitleId);
            request.buttons = PromptButtons::Ok;
            request.icon = PromptIcon::Exclamation;
            prompt_->Ask(request);
        }
    }
    QDir::setCurrent(current);
}

bool CMainFrame::RetrieveForDrop(const std::string& folder) {
    if (engine_->receiving) {
        return false;
    }
    dropFolder_ = folder;
    saveToFolder = 0;
    engine_->StartOperation(kOperationRetrieve);
    return engine_->retrieveDone != 0 && engine_->retrieveFailed == 0;
}

ProgressHooks* CMainFrame::ProgressDialog() {
    return progressDlg_;
}

ProgressHooks* CMainFrame::OpenProgressDialog(int lastIndex, int unit, int figure) {
    CloseProgressDialog();
    auto* dialog = new CRecvProgressDlg(this);
    if (!dialog->ShowProgress(0, lastIndex, unit, figure)) {
        delete dialog;
        return nullptr;
    }
    progressDlg_ = dialog;
    if (onProgressOpen) {
        onProgressOpen(*dialog);
    }
    return dialog;
}

void CMainFrame::CloseProgressDialog() {
    if (progressDlg_ != nullptr) {
        CRecvProgressDlg* dialog = progressDlg_;
        progressDlg_ = nullptr;
        dialog->DestroyProgress();
        delete dialog;
    }
}

}  // namespace wp
