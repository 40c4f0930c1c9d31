#pragma once
// What the account bar and the account settings dialog need of the main
// window. The Qt main frame implements it; widget tests use small fakes.

#include <string>
#include <string_view>

namespace wp {

class CAccountList;
struct AccountRecord;

class AccountFrame {
public:
    virtual ~AccountFrame() = default;

    // The main window's read-only store.
    virtual CAccountList& Accounts() = 0;
    // An operation runs (the frame's `receiving`).
    virtual bool OperationRunning() = 0;
    // The frame's liveness check: a logged-in connection still answers.
    virtual bool ConnectionAnswers() = 0;
    // Stops the running operation and ends the login (the switch check's OK).
    virtual void CancelAndDisconnect() = 0;
    // The account switch: the named account's cached list is shown.
    virtual void LoadCachedList(const std::string& accountName) = 0;
    // Brings the main window to the front.
    virtual void ActivateFrame() = 0;

    // The name of the account selected in the bar (CP932; empty when none).
    virtual std::string GetSelectedAccountName() = 0;
    // After the dialog saved an account (only while no operation runs).
    virtual void AccountSaved(const AccountRecord& record, std::string_view password) = 0;
    // When the dialog closes: the frame forgets it and reloads its store.
    virtual void ReloadAccounts() = 0;
};

}  // namespace wp
