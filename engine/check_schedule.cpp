#include "engine/check_schedule.h"

#include <algorithm>
#include <chrono>

namespace wp {

CheckSchedule::CheckSchedule(Hooks hooks) : hooks_(std::move(hooks)) {}

void CheckSchedule::Refresh(const std::vector<CheckPlan>& plans, CheckClock::time_point now) {
    // An account removed (or renamed) meanwhile is forgotten, so a later one
    // of the same name starts afresh.
    for (auto it = states_.begin(); it != states_.end();) {
        const bool listed = std::any_of(plans.begin(), plans.end(),
                                        [&](const CheckPlan& plan) { return plan.name == it->first; });
        it = listed ? std::next(it) : states_.erase(it);
    }
    for (const CheckPlan& plan : plans) {
        // The first interval runs from the moment the account is first seen.
        states_.try_emplace(plan.name, State{now});
    }
}

void CheckSchedule::Tick() {
    if (ticking_) {
        return;  // a start that finished at once calls back in here
    }
    ticking_ = true;
    const CheckClock::time_point now = hooks_.now();
    const std::vector<CheckPlan> plans = hooks_.accounts();
    Refresh(plans, now);
    if (running_.empty() && !hooks_.busy()) {
        for (const CheckPlan& plan : plans) {
            State& state = states_[plan.name];
            const bool due =
                state.forced || (plan.minutes > 0 && now - state.last >= std::chrono::minutes(plan.minutes));
            if (!due) {
                continue;
            }
            state.forced = false;
            state.last = now;
            if (!plan.hasPassword) {
                if (!state.skipNoted) {
                    state.skipNoted = true;
                    hooks_.note(plan.name, CheckNote::kNoPassword);
                }
                continue;
            }
            state.skipNoted = false;
            running_ = plan.name;
            hooks_.start(plan.name);
            break;
        }
    }
    ticking_ = false;
}

void CheckSchedule::CheckAllNow() {
    const CheckClock::time_point now = hooks_.now();
    const std::vector<CheckPlan> plans = hooks_.accounts();
    Refresh(plans, now);
    for (const CheckPlan& plan : plans) {
        State& state = states_[plan.name];
        state.forced = plan.hasPassword;
    }
    Tick();
}

void CheckSchedule::Finished(const std::string& name, bool ok, bool interrupted) {
    if (name != running_) {
        return;
    }
    running_.clear();
    auto it = states_.find(name);
    if (it != states_.end()) {
        State& state = it->second;
        if (interrupted) {
            state.forced = true;
        } else {
            // A failing server waits a whole interval from the failure.
            state.last = hooks_.now();
            if (!ok && !state.failing) {
                state.failing = true;
                hooks_.note(name, CheckNote::kFailing);
            } else if (ok && state.failing) {
                state.failing = false;
                hooks_.note(name, CheckNote::kRecovered);
            }
        }
    }
    Tick();
}

bool CheckSchedule::Failing(const std::string& name) const {
    auto it = states_.find(name);
    return it != states_.end() && it->second.failing;
}

}  // namespace wp
