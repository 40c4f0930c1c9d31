#pragma once
// A main window without widgets: what the engine shows is recorded, and the
// account bar is a selected account with its two boxes.

#include "accounts/account_info.h"
#include "engine/frame_engine.h"
#include "engine/frame_view.h"
#include "mail/memory_list.h"
#include "platform/text.h"

#include <string>
#include <vector>

namespace wp::test {

class HeadlessFrame : public FrameView {
public:
    HeadlessFrame() { account.number = 1; }

    void SelectAccount(const std::string& name, const std::string& server, const std::string& login,
                       const std::string& password, bool apop = false) {
        account.SetName(name);
        account.SetServer(server);
        account.SetLoginId(login);
        account.SetUseApop(apop);
        loginText = login;
        passwordText = password;
        selected = true;
    }

    const AccountInfo* SelectedAccount() override { return selected ? &account : nullptr; }
    std::string AccountText() override { return selected ? std::string(account.Name()) : std::string(); }
    std::string LoginIdText() override { return loginText; }
    std::string PasswordText() override { return passwordText; }

    void SetPaneText(int pane, const std::string& text) override {
        panes[pane] = text;
        if (pane == 3 && !text.empty()) {
            statusHistory.push_back(Cp932ToUtf8(text));
        }
    }
    void ResetProgress() override {
        progressExists = true;
        progressPos = 0;
    }
    void SetProgressRange(int total) override {
        progressExists = true;
        progressTotal = total;
        progressPos = 0;
    }
    void SetProgressPos(int position) override { progressPos = position; }
    void SetRunningImages(bool on) override {
        running = on;
        imageSwitches.push_back(on);
    }
    void SetDocumentTitle(const std::string& text) override { title = text; }
    void FocusList() override { ++listFocused; }
    void CloseWindow() override { closed = true; }
    MailList& List() override { return list; }

    AccountInfo account{};
    bool selected = false;
    std::string loginText;
    std::string passwordText;
    std::string panes[4];
    std::vector<std::string> statusHistory;  // pane 3, as UTF-8
    bool progressExists = false;
    int progressTotal = 0;
    int progressPos = 0;
    bool running = false;
    std::vector<bool> imageSwitches;
    std::string title;
    int listFocused = 0;
    bool closed = false;
    MemoryList list;
};

}  // namespace wp::test
