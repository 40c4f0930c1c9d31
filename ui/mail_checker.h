#pragma once
// The window's periodic check: every account with an interval is listed by
// itself when due, one at a time and never while an operation runs; new
// mail is counted in the tray icon and told in a notice. Without a tray on
// the desktop the checks still run and report in the status bar.

#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/account_check.h"
#include "engine/check_schedule.h"

namespace wp {

class CMainFrame;

// What the checker shows in the notification area: the program's tray icon,
// or a recorder in tests (the offscreen platform has no tray).
class TraySurface {
public:
    virtual ~TraySurface() = default;
    // The icon with the count of new mails (0: the plain icon).
    virtual void SetCount(int count) = 0;
    virtual void SetToolTip(const QString& text) = 0;
    virtual void ShowNotice(const QString& title, const QString& text) = 0;
};

class MailChecker : public QObject {
public:
    // Makes the tray icon when the desktop has a tray.
    explicit MailChecker(CMainFrame& frame);
    ~MailChecker() override;

    // Replaces the tray (nullptr: none).
    void SetSurface(std::unique_ptr<TraySurface> surface);
    TraySurface* Surface() const { return surface_.get(); }
    void SetClock(std::function<CheckClock::time_point()> now) { now_ = std::move(now); }

    // Runs what is due (the timer calls it; tests call it after moving the clock).
    void Tick();
    // The tray's 受信: every account that keeps its password, now.
    void CheckAllNow();
    // The icon or the notice was clicked: the window comes up on the
    // account of the last notice and the counts start again.
    void Activate();
    // The user starts an operation of this kind. A running check makes way
    // and runs again once the gate is free. False while a check is there:
    // the start is held and made once, after the check has let go of the
    // cache and its connection (canWait false: refused instead).
    bool MakeWay(int kind, bool canWait = true);
    // A user's start is waiting for a check to end.
    bool Holding() const { return held_.has_value(); }
    // The window has closed for good: nothing held starts, no check starts.
    void WindowClosed();
    // The viewer closed: a list refresh it held back may run now.
    void ViewerClosed();

    bool Checking() const { return check_ != nullptr; }
    // No check, not even one that has reported and still winds down.
    bool Quiet() const { return !check_ && !finished_; }
    int NewCount(const std::string& account) const;
    int TotalNew() const;
    QString ToolTipText() const;
    CheckSchedule& Schedule() { return schedule_; }

private:
    std::vector<CheckPlan> Plans() const;
    void StartCheck(const std::string& name);
    void Done(const CheckResult& result);
    void Noted(const std::string& name, CheckNote note);
    void ShowStatus(const std::string& cp932);
    void RefreshShownList(const std::string& name);
    void UpdateSurface();
    void CheckGone();
    void RefreshOnceIdle();

    CMainFrame& frame_;
    std::unique_ptr<TraySurface> surface_;
    std::function<CheckClock::time_point()> now_;
    CheckSchedule schedule_;
    std::unique_ptr<AccountCheck> check_;
    // The check that has just reported: it goes once its report has returned.
    std::unique_ptr<AccountCheck> finished_;
    bool madeWay_ = false;
    // The kind of the user's start held back and the account it was made on.
    std::optional<int> held_;
    std::string heldAccount_;
    bool closed_ = false;
    QTimer timer_;
    std::map<std::string, int> newCounts_;
    std::map<std::string, std::string> failures_;  // CP932 texts of failing accounts
    std::string noticeAccount_;
    bool refreshPending_ = false;
};

}  // namespace wp
