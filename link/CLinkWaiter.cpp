#include "link/CLinkWaiter.h"

#include <chrono>

#include "link/CSerial.h"

int CLinkWaiter::LinkProgress(int value) {
    bool handled = false;
    int answer = 0;
    std::unique_lock<std::mutex> lock(m_lock);
    m_queue.push_back({true, value, 0, true, &handled, &answer});
    m_cv.notify_all();
    m_doneCv.wait(lock, [&] { return handled; });
    return answer;
}

void CLinkWaiter::LinkCompleted(int result, int value, bool blocking) {
    bool handled = false;
    std::unique_lock<std::mutex> lock(m_lock);
    m_queue.push_back({false, result, value, blocking, blocking ? &handled : nullptr, nullptr});
    m_cv.notify_all();
    if (blocking) m_doneCv.wait(lock, [&] { return handled; });
}

CLinkWaiter::Completion CLinkWaiter::Wait(CSerial* engine, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextTick = start + std::chrono::seconds(1);
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        while (!m_queue.empty()) {
            Msg m = m_queue.front();
            m_queue.pop_front();
            if (m.progress) {
                ++m_progressCount;
                lock.unlock();
                int ans = onProgress ? onProgress(m.a) : 0;
                if (abort.load()) ans = 1;
                lock.lock();
                *m.answer = ans;
                *m.handled = true;
                m_doneCv.notify_all();
            } else {
                if (m.handled) {
                    *m.handled = true;
                    m_doneCv.notify_all();
                }
                return {m.a, m.b};
            }
        }
        auto until = nextTick;
        if (timeoutMs >= 0) {
            const auto deadline = start + std::chrono::milliseconds(timeoutMs);
            if (Clock::now() >= deadline) return {};
            if (deadline < until) until = deadline;
        }
        m_cv.wait_until(lock, until, [this] { return !m_queue.empty(); });
        if (Clock::now() >= nextTick) {
            nextTick += std::chrono::seconds(1);
            if (engine) {
                lock.unlock();
                const int fired = engine->CheckTimeout();
                lock.lock();
                if (fired) return {kLinkBadReply, 0};
            }
        }
    }
}
