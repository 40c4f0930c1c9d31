#pragma once
// One account listed without a window, as the receive command lists it, and
// what the listing brought: the mails whose unique id the account's cache
// did not hold before. The periodic check of the window and wrenpost-cli's
// check command use it. Nothing here asks the user anything: a refused
// login or a broken cache is told in the result, never in a box.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accounts/account_info.h"

namespace wp {

struct CheckedMail {
    std::string from;     // CP932, as the list shows it
    std::string subject;  // CP932
};

struct CheckResult {
    std::string name;      // the account (CP932)
    bool ok = false;       // the listing finished, with mails or none
    bool stopped = false;  // cancelled before it finished
    int newCount = 0;
    int total = 0;                      // rows after the listing
    std::vector<CheckedMail> newMails;  // in list order
    // What went wrong (CP932): the last status text or the refusal.
    std::string failure;
};

class AccountCheck {
public:
    using Done = std::function<void(const CheckResult&)>;

    // password: what the account bar would hold (the account's saved one).
    AccountCheck(std::string dataFolder, const AccountInfo& account, std::string password, Done done);
    // Stops a running check and waits for its worker; done is not called.
    ~AccountCheck();
    AccountCheck(const AccountCheck&) = delete;
    AccountCheck& operator=(const AccountCheck&) = delete;

    // Shows the cached list, then lists. done runs once, on this thread, from
    // the event loop (never inside Start), when the check is over.
    void Start();
    // Asks the check to stop at its next step.
    void Cancel();
    bool Running() const { return running_; }
    const std::string& Name() const;

private:
    struct Parts;
    void Finish();

    std::unique_ptr<Parts> parts_;
    Done done_;
    bool running_ = false;
    bool cancelled_ = false;
    std::shared_ptr<bool> alive_;
};

}  // namespace wp
