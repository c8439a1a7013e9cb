#include "devicedata/LocalJob.h"

#include "link/LinkDefs.h"

namespace {
constexpr int kAborted = 6;  // as a command the operator stopped
}

CLocalJob::~CLocalJob() {
    *m_alive = false;
    if (m_ctx.ops) m_ctx.ops->RequestStop();
    Join();
}

void CLocalJob::Join() {
    if (m_thread.joinable()) m_thread.join();
}

bool CLocalJob::Start(int total, Work work, std::function<void(bool ok)> done) {
    COperations& ops = *m_ctx.ops;
    if (ops.Busy() || !work) return false;
    Join();
    auto result = std::make_shared<bool>(false);
    std::weak_ptr<std::atomic<bool>> alive = m_alive;
    ops.Begin(kOpLocalWork, total, -1, [result, alive, done = std::move(done)](int) {
        auto a = alive.lock();
        if (a && *a && done) done(*result);
        return false;
    });
    ILinkNotifier* notifier = m_ctx.notifier;
    if (!notifier) {
        // Progress straight into the operation; Stop can only come from the work's own answer.
        const bool ok = work([&ops](int v) { return ops.Progress(v) != 0; });
        *result = ok;
        ops.Completed(ops.AbortRequested() ? kAborted : 0, 0);
        return true;
    }
    COperations* opsPtr = &ops;
    m_thread = std::thread([notifier, opsPtr, result, work = std::move(work)] {
        const bool ok = work([notifier, opsPtr](int v) { return notifier->LinkProgress(v) != 0 || opsPtr->AbortRequested(); });
        *result = ok;
        // Written before the completion is posted; the step reads it on the window's thread.
        notifier->LinkCompleted(opsPtr->AbortRequested() ? kAborted : 0, 0, false);
    });
    return true;
}
