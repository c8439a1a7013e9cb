#include "link/CLinkWaiter.h"

#include <chrono>

#include "link/CSerial.h"

namespace {
int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

int CLinkWaiter::LinkProgress(int value) {
    ++m_progressCount;
    m_lastHeardMs = SteadyMs();
    const int delay = m_progress.Put(value);
    if (delay >= 0) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_progressDue = true;
        m_progressAt = CProgressMailbox::Clock::now() + std::chrono::milliseconds(delay);
        m_cv.notify_all();
    }
    return abort.load() || m_abortAnswer.load() ? 1 : 0;
}

void CLinkWaiter::LinkCompleted(int result, int value, bool blocking) {
    bool handled = false;
    std::unique_lock<std::mutex> lock(m_lock);
    // After a give-up nobody may come to take a blocking completion: queue it without waiting.
    if (m_gaveUp) blocking = false;
    m_lastHeardMs = SteadyMs();
    m_queue.push_back({result, value, blocking ? &handled : nullptr});
    m_cv.notify_all();
    if (blocking) m_doneCv.wait(lock, [&] { return handled; });
}

void CLinkWaiter::DeliverProgress(std::unique_lock<std::mutex>& lock) {
    m_progressDue = false;
    const auto value = m_progress.Take();
    if (!value || !onProgress) return;
    lock.unlock();
    const int answer = onProgress(*value);
    lock.lock();
    if (answer) m_abortAnswer = true;
}

CLinkWaiter::Completion CLinkWaiter::Wait(CSerial* engine, int timeoutMs, int quietMs) {
    using Clock = CProgressMailbox::Clock;
    const auto start = Clock::now();
    auto nextTick = start + std::chrono::seconds(1);
    std::unique_lock<std::mutex> lock(m_lock);
    m_gaveUp = false;
    m_abortAnswer = false;
    m_lastHeardMs = SteadyMs();
    const auto giveUp = [&] {
        m_gaveUp = true;
        m_abortAnswer = true;
        return Completion{};
    };
    for (;;) {
        if (m_progressDue && Clock::now() >= m_progressAt) DeliverProgress(lock);
        if (!m_queue.empty()) {
            // The command's last progress value comes before its completion.
            DeliverProgress(lock);
            Msg m = m_queue.front();
            m_queue.pop_front();
            m_abortAnswer = false;
            if (m.handled) {
                *m.handled = true;
                m_doneCv.notify_all();
            }
            return {m.result, m.value};
        }
        auto until = nextTick;
        if (timeoutMs >= 0) {
            const auto deadline = start + std::chrono::milliseconds(timeoutMs);
            if (Clock::now() >= deadline) return giveUp();
            if (deadline < until) until = deadline;
        }
        if (quietMs >= 0) {
            const int64_t left = m_lastHeardMs.load() + quietMs - SteadyMs();
            if (left <= 0) return giveUp();
            const auto quietAt = Clock::now() + std::chrono::milliseconds(left);
            if (quietAt < until) until = quietAt;
        }
        if (m_progressDue && m_progressAt < until) until = m_progressAt;
        // Progress that falls due before the planned wake-up wakes it early.
        m_cv.wait_until(lock, until, [&] { return !m_queue.empty() || (m_progressDue && m_progressAt < until); });
        if (Clock::now() >= nextTick) {
            nextTick += std::chrono::seconds(1);
            if (engine) {
                lock.unlock();
                const int fired = engine->CheckTimeout();
                lock.lock();
                if (fired) {
                    m_abortAnswer = false;
                    return {kLinkBadReply, 0};
                }
            }
        }
    }
}
