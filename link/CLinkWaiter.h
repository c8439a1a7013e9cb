#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "link/LinkDefs.h"

class CSerial;

// A notifier for owners without a window system (varoctl, tests): notifications are queued
// and handled on the thread that calls Wait(), the way a main window handles its messages.
// Progress blocks the worker until Wait() has answered it; blocking completions too.
class CLinkWaiter : public ILinkNotifier {
public:
    // Run on the waiting thread; the answer is the abort request.
    std::function<int(int value)> onProgress;
    // Set from anywhere: the next progress answer asks the link to abort.
    std::atomic<bool> abort{false};

    struct Completion {
        int result = -1;
        int value = 0;
    };
    // Handles notifications until a completion arrives. Calls engine->CheckTimeout() once a
    // second when an engine is given; a watchdog cut ends the wait with result 4, as the main
    // window does. timeoutMs < 0 waits for ever; on a time-out result is -1.
    Completion Wait(CSerial* engine = nullptr, int timeoutMs = -1);

    int LinkProgress(int value) override;
    void LinkCompleted(int result, int value, bool blocking) override;

    unsigned ProgressCount() const { return m_progressCount.load(); }

private:
    struct Msg {
        bool progress;
        int a, b;
        bool blocking;
        bool* handled;
        int* answer;
    };
    std::mutex m_lock;
    std::condition_variable m_cv;      // new message
    std::condition_variable m_doneCv;  // a message was handled
    std::deque<Msg> m_queue;
    std::atomic<unsigned> m_progressCount{0};
};
