#pragma once
// The main window of wrenpost-cli: the account bar holds the named account,
// the status pane goes to standard error as it changes, and the message list
// lives in memory.

#include <string>

#include "accounts/account_info.h"
#include "engine/frame_view.h"
#include "mail/memory_list.h"

namespace wp::cli {

class CliFrame final : public FrameView {
public:
    CliFrame(const AccountInfo& account, std::string loginId, std::string password);

    const AccountInfo* SelectedAccount() override { return &account_; }
    std::string AccountText() override { return std::string(account_.Name()); }
    std::string LoginIdText() override { return loginId_; }
    std::string PasswordText() override { return password_; }

    void SetPaneText(int pane, const std::string& text) override;
    void ResetProgress() override {}
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    void SetRunningImages(bool) override {}
    void SetDocumentTitle(const std::string&) override {}
    void FocusList() override {}
    void CloseWindow() override {}
    MailList& List() override { return list_; }
    ViewerHooks* Viewer() override { return viewer_; }

    MemoryList& Rows() { return list_; }
    // The viewer of the view command while it runs; nullptr otherwise.
    void SetViewer(ViewerHooks* viewer) { viewer_ = viewer; }

    const MemoryList& Rows() const { return list_; }
    // The last non-empty text of the status pane (CP932).
    const std::string& LastStatus() const { return lastStatus_; }

private:
    AccountInfo account_;
    std::string loginId_;
    std::string password_;
    std::string lastStatus_;
    MemoryList list_;
    ViewerHooks* viewer_ = nullptr;
};

// One line per row in list order: mark image, hasParts, sender, subject,
// date text and size, separated by TABs.
void PrintRows(const MemoryList& list);

// The exit status of a listing, judged by the last status it showed:
// finished (with mails or none) 0, stopped by the user 2, anything else 1.
int ListingExitStatus(const std::string& lastStatus);

}  // namespace wp::cli
