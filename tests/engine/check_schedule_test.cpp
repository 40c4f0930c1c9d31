// The timing of the checks by themselves, on a clock the test moves.
#include "engine/check_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wp {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;

struct Rig {
    Rig()
        : schedule(CheckSchedule::Hooks{
              [this] { return now; },
              [this] { return plans; },
              [this] { return busy; },
              [this](const std::string& name) { started.push_back(name); },
              [this](const std::string& name, CheckNote note) {
                  notes.push_back({name, note});
              },
          }) {}

    void Advance(CheckClock::duration by) {
        now += by;
        schedule.Tick();
    }

    CheckClock::time_point now{};
    std::vector<CheckPlan> plans;
    bool busy = false;
    std::vector<std::string> started;
    std::vector<std::pair<std::string, CheckNote>> notes;
    CheckSchedule schedule;
};

TEST(CheckSchedule, AnAccountIsCheckedEveryIntervalAndOnlyWithOne) {
    Rig rig;
    rig.plans = {{"five", 5, true}, {"off", 0, true}};
    rig.schedule.Tick();
    rig.Advance(minutes(4) + seconds(59));
    EXPECT_TRUE(rig.started.empty()) << "checked before its interval";
    rig.Advance(seconds(1));
    ASSERT_EQ(rig.started, std::vector<std::string>{"five"});
    rig.schedule.Finished("five", true);
    rig.Advance(minutes(4));
    EXPECT_EQ(rig.started.size(), 1u);
    rig.Advance(minutes(1));
    EXPECT_EQ(rig.started.size(), 2u) << "the next interval runs from the end of the last check";
    EXPECT_TRUE(rig.notes.empty());
}

TEST(CheckSchedule, ADueCheckWaitsForTheRunningOperationAndNeverStartsBesideIt) {
    Rig rig;
    rig.plans = {{"a", 1, true}};
    rig.schedule.Tick();
    rig.busy = true;
    rig.Advance(minutes(3));
    EXPECT_TRUE(rig.started.empty()) << "started while the user's operation ran";
    rig.busy = false;
    rig.schedule.Tick();
    EXPECT_EQ(rig.started, std::vector<std::string>{"a"})
        << "the waiting check did not run once the gate was free";
}

TEST(CheckSchedule, TwoAccountsDueAtOnceRunOneAfterTheOther) {
    Rig rig;
    rig.plans = {{"a", 2, true}, {"b", 2, true}};
    rig.schedule.Tick();
    rig.Advance(minutes(2));
    ASSERT_EQ(rig.started, std::vector<std::string>{"a"});
    rig.schedule.Tick();
    EXPECT_EQ(rig.started.size(), 1u) << "a second check started while one ran";
    rig.schedule.Finished("a", true);
    EXPECT_EQ(rig.started, (std::vector<std::string>{"a", "b"}));
}

TEST(CheckSchedule, AFailingServerIsTriedAtTheNextIntervalAndToldOnce) {
    Rig rig;
    rig.plans = {{"down", 10, true}};
    rig.schedule.Tick();
    rig.Advance(minutes(10));
    ASSERT_EQ(rig.started.size(), 1u);
    rig.schedule.Finished("down", false);
    rig.Advance(minutes(9));
    EXPECT_EQ(rig.started.size(), 1u) << "a failed server was tried again before its interval";
    rig.Advance(minutes(1));
    ASSERT_EQ(rig.started.size(), 2u);
    rig.schedule.Finished("down", false);
    rig.Advance(minutes(10));
    rig.schedule.Finished("down", false);
    EXPECT_EQ(rig.notes, (std::vector<std::pair<std::string, CheckNote>>{{"down", CheckNote::kFailing}}))
        << "a failure that goes on was told more than once";
    EXPECT_TRUE(rig.schedule.Failing("down"));
    rig.Advance(minutes(10));
    rig.schedule.Finished("down", true);
    EXPECT_FALSE(rig.schedule.Failing("down"));
    EXPECT_EQ(rig.notes.back().second, CheckNote::kRecovered);
}

TEST(CheckSchedule, AnAccountRemovedWhileDueIsNotChecked) {
    Rig rig;
    rig.plans = {{"gone", 1, true}, {"kept", 1, true}};
    rig.schedule.Tick();
    rig.busy = true;
    rig.Advance(minutes(1));
    rig.plans = {{"kept", 1, true}};
    rig.busy = false;
    rig.schedule.Tick();
    EXPECT_EQ(rig.started, std::vector<std::string>{"kept"});
    // Its end reported late (it was removed while it ran) changes nothing.
    rig.schedule.Finished("gone", false);
    EXPECT_TRUE(rig.schedule.Running());
    EXPECT_TRUE(rig.notes.empty());
}

TEST(CheckSchedule, AnAccountWithoutASavedPasswordIsSkippedAndToldOnce) {
    Rig rig;
    rig.plans = {{"nopw", 1, false}, {"pw", 1, true}};
    rig.schedule.Tick();
    rig.Advance(minutes(1));
    EXPECT_EQ(rig.started, std::vector<std::string>{"pw"});
    rig.schedule.Finished("pw", true);
    rig.Advance(minutes(1));
    rig.schedule.Finished("pw", true);
    EXPECT_EQ(rig.notes, (std::vector<std::pair<std::string, CheckNote>>{{"nopw", CheckNote::kNoPassword}}));
}

TEST(CheckSchedule, CheckAllNowTakesEveryAccountWithAPasswordOnce) {
    Rig rig;
    rig.plans = {{"a", 0, true}, {"b", 30, true}, {"c", 0, false}};
    rig.schedule.CheckAllNow();
    ASSERT_EQ(rig.started, std::vector<std::string>{"a"});
    rig.schedule.Finished("a", true);
    ASSERT_EQ(rig.started, (std::vector<std::string>{"a", "b"}));
    rig.schedule.Finished("b", true);
    rig.Advance(minutes(29));
    EXPECT_EQ(rig.started.size(), 2u) << "an account checked on request was checked again at once";
}

TEST(CheckSchedule, ACheckThatMadeWayRunsAgainOnceTheGateIsFree) {
    Rig rig;
    rig.plans = {{"a", 15, true}};
    rig.schedule.Tick();
    rig.Advance(minutes(15));
    ASSERT_EQ(rig.started.size(), 1u);
    rig.busy = true;
    rig.schedule.Finished("a", false, /*interrupted=*/true);
    EXPECT_FALSE(rig.schedule.Failing("a")) << "making way for the user counted as a failure";
    rig.busy = false;
    rig.schedule.Tick();
    EXPECT_EQ(rig.started.size(), 2u);
}

TEST(CheckSchedule, AShorterIntervalTakesEffectAtOnce) {
    Rig rig;
    rig.plans = {{"a", 60, true}};
    rig.schedule.Tick();
    rig.Advance(minutes(5));
    rig.plans = {{"a", 5, true}};
    rig.schedule.Tick();
    EXPECT_EQ(rig.started.size(), 1u);
}

}  // namespace
}  // namespace wp
