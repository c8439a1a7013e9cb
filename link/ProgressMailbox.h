#pragma once
#include <chrono>
#include <mutex>
#include <optional>

// Progress from a link's worker on its way to the owner's thread. The worker must not wait
// for the owner: a hand-over per chunk costs two thread wake-ups per exchange, more than the
// exchange itself on a fast link. So the worker only leaves its newest value here, and the
// owner is told at most once per interval. The owner takes the value when told, and once
// more before it handles a completion, so the last value of a command is never lost.
class CProgressMailbox {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kIntervalMs = 20;

    // Worker. Returns -1 when the owner has been told already and has not taken the value
    // yet; otherwise the owner must be told to take it after this many ms (0: now).
    int Put(int value);
    // Owner: the newest value not yet taken, if any.
    std::optional<int> Take();

private:
    std::mutex m_lock;
    int m_value = 0;
    bool m_has = false;
    bool m_told = false;
    Clock::time_point m_lastTake{};
};
