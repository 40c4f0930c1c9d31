#pragma once
// When each account is checked by itself. The clock, the accounts, the
// operation gate and the start of a check come from outside, so the whole
// timing runs in tests without waiting for real minutes. One check at a
// time; a check waits while an operation runs and never cancels it.

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wp {

using CheckClock = std::chrono::steady_clock;

struct CheckPlan {
    std::string name;          // CP932
    int minutes = 0;           // 0: not checked by itself
    bool hasPassword = false;  // the account keeps its password
};

enum class CheckNote {
    kNoPassword,  // due, but skipped: nobody is asked for a password
    kFailing,     // the first failure after a success (or ever)
    kRecovered,   // a success after a failure
};

class CheckSchedule {
public:
    struct Hooks {
        std::function<CheckClock::time_point()> now;
        // Read afresh at every tick: accounts come, go and change meanwhile.
        std::function<std::vector<CheckPlan>()> accounts;
        // True while an operation runs.
        std::function<bool()> busy;
        // Starts the check of the named account; Finished reports its end.
        std::function<void(const std::string&)> start;
        std::function<void(const std::string&, CheckNote)> note;
    };

    explicit CheckSchedule(Hooks hooks);

    // Starts the first due check when nothing runs. Call it often (a timer,
    // the end of an operation): it does nothing while nothing is due.
    void Tick();
    // Every account that keeps its password is due now, interval or not.
    void CheckAllNow();
    // The end of the running check. ok false for a failure: the account is
    // tried again at its next interval, not sooner. interrupted: stopped
    // for the user's operation; it stays due.
    void Finished(const std::string& name, bool ok, bool interrupted = false);

    bool Running() const { return !running_.empty(); }
    const std::string& RunningName() const { return running_; }
    bool Failing(const std::string& name) const;

private:
    struct State {
        CheckClock::time_point last;  // the interval runs from here
        bool forced = false;
        bool failing = false;
        bool skipNoted = false;
    };

    void Refresh(const std::vector<CheckPlan>& plans, CheckClock::time_point now);

    Hooks hooks_;
    std::map<std::string, State> states_;
    std::string running_;
    bool ticking_ = false;
};

}  // namespace wp
