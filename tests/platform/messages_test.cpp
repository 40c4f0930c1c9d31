#include "platform/messages.h"

#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace wp {
namespace {

using test::PumpUntil;

struct Received {
    std::uint32_t msg;
    WParam wParam;
    LParam lParam;
    bool onUiThread;
};

// Records what reaches the main frame; a reply for sent messages.
class Recorder : public MessageHandler {
public:
    LResult HandleMessage(std::uint32_t msg, WParam wParam, LParam lParam) override {
        std::lock_guard lock(mutex_);
        received_.push_back({msg, wParam, lParam, IsUiThread()});
        if (onMessage) {
            onMessage(msg, wParam);
        }
        return static_cast<LResult>(wParam) * 2 + 1;
    }
    std::vector<Received> Copy() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return received_.size();
    }
    std::function<void(std::uint32_t, WParam)> onMessage;

private:
    std::mutex mutex_;
    std::vector<Received> received_;
};

TEST(Messages, PostedFromTheWorkerAreHandledOnTheUiThreadInOrder) {
    Recorder recorder;
    auto window = MakeQtWindow(recorder);
    constexpr int kCount = 500;
    std::thread worker([&] {
        for (int i = 0; i < kCount; ++i) {
            window->Post(i % 2 ? UM_STATUSTEXT : UM_OPERATIONDONE, static_cast<WParam>(i), -i);
        }
    });
    bool all = PumpUntil([&] { return recorder.Count() == kCount; });
    worker.join();
    ASSERT_TRUE(all);
    auto got = recorder.Copy();
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(got[i].msg, i % 2 ? UM_STATUSTEXT : UM_OPERATIONDONE) << i;
        EXPECT_EQ(got[i].wParam, static_cast<WParam>(i));
        EXPECT_EQ(got[i].lParam, -i);
        EXPECT_TRUE(got[i].onUiThread) << i;
    }
}

// Posting never runs the handler in the caller, even on the UI thread: a
// handler must not run inside the code that posted.
TEST(Messages, PostOnTheUiThreadIsQueued) {
    Recorder recorder;
    auto window = MakeQtWindow(recorder);
    window->Post(UM_STATUSTEXT, 10013, 0);
    EXPECT_EQ(recorder.Count(), 0u);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count() == 1; }));
}

TEST(Messages, SentFromTheWorkerRunsOnTheUiThreadWhileTheWorkerWaits) {
    Recorder recorder;
    auto window = MakeQtWindow(recorder);
    std::atomic<bool> handled{false};
    recorder.onMessage = [&](std::uint32_t, WParam) { handled = true; };
    std::atomic<bool> done{false};
    std::vector<LResult> results;
    std::vector<bool> handledBeforeReturn;
    std::thread worker([&] {
        for (WParam i = 0; i < 20; ++i) {
            handled = false;
            results.push_back(window->Send(UM_PROGRESSRANGE, MakeLong(static_cast<std::uint16_t>(i), 20), 0));
            handledBeforeReturn.push_back(handled.load());
        }
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    worker.join();
    ASSERT_EQ(results.size(), 20u);
    for (WParam i = 0; i < 20; ++i) {
        EXPECT_EQ(results[i], static_cast<LResult>(MakeLong(static_cast<std::uint16_t>(i), 20)) * 2 + 1);
        EXPECT_TRUE(handledBeforeReturn[i]) << i;
    }
    for (const auto& r : recorder.Copy()) {
        EXPECT_TRUE(r.onUiThread);
        EXPECT_EQ(HiWord(r.wParam), 20);
    }
}

// On the UI thread a sent message runs at once: no event loop is needed,
// and nothing deadlocks.
TEST(Messages, SentOnTheUiThreadRunsDirectly) {
    Recorder recorder;
    auto window = MakeQtWindow(recorder);
    EXPECT_TRUE(window->IsOwnerThread());
    EXPECT_EQ(window->Send(UM_PROGRESSPOS, 7, 0), 15);
    EXPECT_EQ(recorder.Count(), 1u);
}

TEST(Messages, AWindowMadeOnTheWorkerStillBelongsToTheUiThread) {
    Recorder recorder;
    std::unique_ptr<Window> window;
    std::thread worker([&] {
        window = MakeQtWindow(recorder);
        window->Post(UM_OPERATIONDONE, 1, 0);
    });
    worker.join();
    EXPECT_TRUE(window->IsOwnerThread());
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count() == 1; }));
    EXPECT_TRUE(recorder.Copy()[0].onUiThread);
}

// The long loops dispatch pending messages between polls: on the UI thread
// that serves them; on the worker it must neither serve them there nor block.
TEST(Messages, DispatchPendingServesOnlyTheUiThread) {
    Recorder recorder;
    auto window = MakeQtWindow(recorder);
    window->Post(UM_STATUSTEXT, 1, 0);
    std::thread worker([&] { DispatchPendingMessages(); });
    worker.join();
    EXPECT_EQ(recorder.Count(), 0u);

    DispatchPendingMessages();
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_TRUE(recorder.Copy()[0].onUiThread);
}

// A handler that posts again must not keep one dispatch call going for ever.
TEST(Messages, DispatchPendingProcessesOnce) {
    Recorder recorder;
    auto window = MakeQtWindow(recorder);
    recorder.onMessage = [&](std::uint32_t, WParam w) { window->Post(UM_STATUSTEXT, w + 1, 0); };
    window->Post(UM_STATUSTEXT, 0, 0);
    DispatchPendingMessages();
    EXPECT_EQ(recorder.Count(), 1u);
    DispatchPendingMessages();
    EXPECT_EQ(recorder.Count(), 2u);
    recorder.onMessage = nullptr;
    DispatchPendingMessages();
}

TEST(Messages, QueuedMessagesDieWithTheirWindow) {
    Recorder recorder;
    auto window = MakeQtWindow(recorder);
    window->Post(UM_OPERATIONDONE, 0, 0);
    window.reset();
    DispatchPendingMessages();
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST(Messages, RunOnUiThreadWaitsForTheUiThread) {
    std::atomic<bool> done{false};
    bool ranOnUi = false;
    int value = 0;
    std::thread worker([&] {
        RunOnUiThread([&] {
            ranOnUi = IsUiThread();
            value = 42;
        });
        // The call returned, so the work is finished and visible here.
        if (value == 42) {
            done = true;
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnUi);

    bool direct = false;
    RunOnUiThread([&] { direct = IsUiThread(); });
    EXPECT_TRUE(direct);
}

TEST(Messages, OnlyTheApplicationThreadIsTheUiThread) {
    EXPECT_TRUE(IsUiThread());
    bool onWorker = true;
    std::thread worker([&] { onWorker = IsUiThread(); });
    worker.join();
    EXPECT_FALSE(onWorker);
}

}  // namespace
}  // namespace wp
