#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "link/LinkDefs.h"
#include "link/ProgressMailbox.h"

class CSerial;

// A notifier for owners without a window system (varoctl, tests): notifications are queued
// and handled on the thread that calls Wait(), the way a main window handles its messages.
// Progress never makes the worker wait: onProgress sees the newest value at most every
// CProgressMailbox::kIntervalMs and always the last one before the completion. Blocking
// completions make the worker wait until Wait() has taken them.
class CLinkWaiter : public ILinkNotifier {
public:
    // Run on the waiting thread; a nonzero answer asks the link to abort. The link sees it
    // at its next progress step.
    std::function<int(int value)> onProgress;
    // Set from anywhere: the link's next progress step aborts.
    std::atomic<bool> abort{false};

    struct Completion {
        int result = -1;
        int value = 0;
    };
    // The longest a working link goes without a notification: a busy or accepted device is
    // polled for CFrameLink::kPollLimitMs, then one more poll exchange of nine attempts with
    // the serial read time-outs, plus a margin.
    static constexpr int kQuietLimitMs = 60000;

    // Handles notifications until a completion arrives. Calls engine->CheckTimeout() once a
    // second when an engine is given; a watchdog cut ends the wait with result 4, as the main
    // window does. The wait ends with result -1 when timeoutMs (< 0: no limit) has passed, or
    // when neither progress nor a completion came for quietMs (< 0: no limit). Such a command
    // is given up: its next progress step aborts it and its completion, should it still come,
    // is queued without making the worker wait.
    Completion Wait(CSerial* engine = nullptr, int timeoutMs = -1, int quietMs = kQuietLimitMs);

    int LinkProgress(int value) override;
    void LinkCompleted(int result, int value, bool blocking) override;

    // Progress steps the links have reported so far.
    unsigned ProgressCount() const { return m_progressCount.load(); }

private:
    struct Msg {
        int result, value;
        bool* handled;
    };
    // With the lock held; unlocks around onProgress.
    void DeliverProgress(std::unique_lock<std::mutex>& lock);

    std::mutex m_lock;
    std::condition_variable m_cv;      // new message, or progress to take
    std::condition_variable m_doneCv;  // a blocking completion was taken
    std::deque<Msg> m_queue;
    CProgressMailbox m_progress;
    bool m_progressDue = false;
    CProgressMailbox::Clock::time_point m_progressAt{};
    std::atomic<bool> m_abortAnswer{false};  // onProgress's last answer for this command
    std::atomic<unsigned> m_progressCount{0};
    std::atomic<int64_t> m_lastHeardMs{0};  // steady clock, last progress or completion
    bool m_gaveUp = false;                  // with m_lock
};
