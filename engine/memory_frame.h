#pragma once
// A main window without a window: one account, its rows in memory and the
// last status kept. Background checks and wrenpost-cli run their operations
// on it.

#include <string>
#include <utility>

#include "accounts/account_info.h"
#include "engine/frame_view.h"
#include "mail/memory_list.h"

namespace wp {

class MemoryFrame : public FrameView {
public:
    MemoryFrame(const AccountInfo& account, std::string password)
        : account_(account), password_(std::move(password)) {}

    const AccountInfo* SelectedAccount() override { return &account_; }
    std::string AccountText() override { return std::string(account_.Name()); }
    std::string LoginIdText() override { return std::string(account_.LoginId()); }
    std::string PasswordText() override { return password_; }
    void SetPaneText(int pane, const std::string& text) override {
        if (pane == 3 && !text.empty()) {
            lastStatus_ = text;
            StatusShown(text);
        }
    }
    void ResetProgress() override {}
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    void SetRunningImages(bool) override {}
    void SetDocumentTitle(const std::string&) override {}
    void FocusList() override {}
    void CloseWindow() override {}
    MailList& List() override { return rows_; }
    ViewerHooks* Viewer() override { return viewer_; }

    MemoryList& Rows() { return rows_; }
    const MemoryList& Rows() const { return rows_; }
    // The last non-empty text of the status pane (CP932).
    const std::string& LastStatus() const { return lastStatus_; }
    // The viewer of a view while it runs; nullptr otherwise.
    void SetViewer(ViewerHooks* viewer) { viewer_ = viewer; }

protected:
    // A new status text, for a frame that also shows it somewhere.
    virtual void StatusShown(const std::string&) {}

private:
    AccountInfo account_;
    std::string password_;
    std::string lastStatus_;
    MemoryList rows_;
    ViewerHooks* viewer_ = nullptr;
};

}  // namespace wp
