// Progress hand-over from a link's worker to the waiting thread: the worker never waits, the
// owner sees the newest value, the last one before the completion, and its abort answer
// reaches the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "link/CLinkWaiter.h"
#include "link/ProgressMailbox.h"

namespace {
using namespace std::chrono_literals;

TEST(ProgressMailbox, TellsOncePerIntervalAndKeepsTheNewest) {
    CProgressMailbox box;
    EXPECT_FALSE(box.Take().has_value());
    EXPECT_EQ(box.Put(1), 0);   // nothing taken yet: take it now
    EXPECT_EQ(box.Put(2), -1);  // already told
    EXPECT_EQ(box.Put(3), -1);
    EXPECT_EQ(box.Take(), 3);
    EXPECT_FALSE(box.Take().has_value());
    // Just taken: the next value is due an interval later.
    const int delay = box.Put(4);
    EXPECT_GT(delay, 0);
    EXPECT_LE(delay, CProgressMailbox::kIntervalMs);
    EXPECT_EQ(box.Put(5), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(CProgressMailbox::kIntervalMs + 5));
    EXPECT_EQ(box.Take(), 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(CProgressMailbox::kIntervalMs + 5));
    EXPECT_EQ(box.Put(6), 0);
}

// A stand-in worker: reports steps 1..steps one per `pause` until told to abort, then completes.
struct FakeWorker {
    CLinkWaiter& waiter;
    int steps;
    std::chrono::microseconds pause;
    int reported = 0;
    bool aborted = false;
    std::thread thread;
    void Start(bool blocking) {
        thread = std::thread([this, blocking] {
            for (int i = 1; i <= steps; ++i) {
                reported = i;
                if (waiter.LinkProgress(i)) {
                    aborted = true;
                    break;
                }
                std::this_thread::sleep_for(pause);
            }
            waiter.LinkCompleted(aborted ? kLinkAborted : kLinkOk, reported, blocking);
        });
    }
    ~FakeWorker() {
        if (thread.joinable()) thread.join();
    }
};

TEST(LinkWaiter, OwnerSeesTheLastStepBeforeTheCompletion) {
    for (bool blocking : {false, true}) {
        CLinkWaiter waiter;
        std::vector<int> seen;
        waiter.onProgress = [&](int v) {
            seen.push_back(v);
            return 0;
        };
        FakeWorker w{waiter, 5000, 0us};
        w.Start(blocking);
        const CLinkWaiter::Completion c = waiter.Wait(nullptr, 20000);
        EXPECT_EQ(c.result, kLinkOk);
        EXPECT_EQ(waiter.ProgressCount(), 5000u);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), 5000);
        EXPECT_LT(seen.size(), 5000u) << "steps in a burst are passed on as the newest only";
        for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
    }
}

TEST(LinkWaiter, AbortAnswersReachTheWorkerAndEndWithTheCommand) {
    CLinkWaiter waiter;
    waiter.onProgress = [](int) { return 1; };
    {
        // Steps far apart: the owner's answer lands a few steps later, not at the end.
        FakeWorker w{waiter, 1000, 5ms};
        w.Start(false);
        EXPECT_EQ(waiter.Wait(nullptr, 20000).result, kLinkAborted);
        w.thread.join();
        EXPECT_LT(w.reported, 20);
    }
    {
        // The next command starts with a clean answer.
        waiter.onProgress = nullptr;
        FakeWorker w{waiter, 50, 0us};
        w.Start(true);
        EXPECT_EQ(waiter.Wait(nullptr, 20000).result, kLinkOk);
    }
    {
        // The flag set from anywhere is answered at the very next step.
        waiter.abort = true;
        FakeWorker w{waiter, 50, 0us};
        w.Start(false);
        EXPECT_EQ(waiter.Wait(nullptr, 20000).result, kLinkAborted);
        w.thread.join();
        EXPECT_EQ(w.reported, 1);
        waiter.abort = false;
    }
}

TEST(LinkWaiter, AHeldBackValueIsDeliveredWithoutWaitingForMore) {
    // A step reported right after another one is held back for the interval, then handed
    // over although nothing else arrives for a long time.
    CLinkWaiter waiter;
    using Clock = std::chrono::steady_clock;
    std::vector<std::pair<int, Clock::time_point>> seen;
    waiter.onProgress = [&](int v) {
        seen.push_back({v, Clock::now()});
        return 0;
    };
    const auto t0 = Clock::now();
    std::thread t([&] {
        waiter.LinkProgress(1);
        waiter.LinkProgress(2);
        std::this_thread::sleep_for(1s);
        waiter.LinkCompleted(kLinkOk, 0, false);
    });
    EXPECT_EQ(waiter.Wait(nullptr, 20000).result, kLinkOk);
    t.join();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().first, 2);
    EXPECT_LT(seen.back().second - t0, 500ms);
}
}  // namespace

// varoctl never waits for ever: progress keeps a long command alive, silence ends the wait,
// and the given-up command's late blocking completion does not hold its worker.
TEST(LinkWaiter, SilenceGivesTheCommandUp) {
    CLinkWaiter waiter;
    std::atomic<bool> released{false};
    std::atomic<int> lateAnswer{-1};
    std::thread worker([&] {
        for (int i = 1; i <= 6; ++i) {  // 300 ms of steps, each well inside the quiet limit
            waiter.LinkProgress(i);
            std::this_thread::sleep_for(50ms);
        }
        std::this_thread::sleep_for(400ms);  // then silence
        lateAnswer = waiter.LinkProgress(7);
        waiter.LinkCompleted(kLinkOk, 0, true);
        released = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const CLinkWaiter::Completion c = waiter.Wait(nullptr, -1, 150);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(c.result, -1);
    EXPECT_GE(waited, 400ms);  // the steps kept it waiting past several quiet limits
    worker.join();
    EXPECT_TRUE(released.load());
    EXPECT_EQ(lateAnswer.load(), 1);  // the given-up command is told to abort
}
