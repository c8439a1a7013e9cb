#pragma once
#include "devicedata/DeviceContext.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// Work off the device link (ffmpeg, the codec) inside an operation of the window: it runs on
// a thread of its own and reports to the link's notifier like a command, so the progress line,
// "Stop operation" and the completion step are the usual ones and the window keeps answering.
// Without a notifier (tests of the page logic) the work runs at once on the calling thread.
class CLocalJob {
public:
    // progress(value) shows value of the total and answers true when the operator stopped.
    using Progress = std::function<bool(int value)>;
    // Runs off the window's thread; true when it did its work.
    using Work = std::function<bool(const Progress& progress)>;

    explicit CLocalJob(RDeviceContext& ctx) : m_ctx(ctx) {}
    ~CLocalJob();  // stops the work and waits for it
    CLocalJob(const CLocalJob&) = delete;
    CLocalJob& operator=(const CLocalJob&) = delete;

    // Begins operation kOpLocalWork with the total and starts the work; done(ok) runs on the
    // window's thread when it ends, before the operation ends. A stopped work ends like an
    // aborted command, without done. False when an operation runs already.
    bool Start(int total, Work work, std::function<void(bool ok)> done);

private:
    void Join();

    RDeviceContext& m_ctx;
    std::thread m_thread;
    // Outlives the job: a late completion after the page went finds it gone.
    std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
};
