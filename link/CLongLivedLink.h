#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "link/CFrameLink.h"
#include "link/FlashSequences.h"
#include "link/LinkDefs.h"

// A point-B link with one long-lived worker: commands are handed over under a lock, idle
// periods of 500 ms run a keep-alive status poll while the transport is up, completions are
// queued. The serial RS-422 link and the Ethernet link differ only in their transport, so
// they derive from this and supply the port and what to do around a command.
class CLongLivedLink : public ILinkNotifier {
public:
    static constexpr int kIdleMs = 500;
    static constexpr int kStopWaitMs = 5000;

    // name: class name for the log lines ("CSerial232B", "CEth1").
    explicit CLongLivedLink(const char* name);
    ~CLongLivedLink() override;

    void SetNotifier(ILinkNotifier* n) { m_notify = n; }
    ILinkNotifier* Notifier() const { return m_notify; }
    void SetVerify(bool on) { m_verify = on; }
    // Hands a command to the worker; returns at once.
    void Command(int command, uint8_t* buffer, uint32_t address, uint32_t size);

    int ErrorKind() const { return m_errKind.load(); }
    uint32_t ErrorAddress() const { return m_errAddress.load(); }
    uint32_t StartAddress() const { return m_cmdAddress.load(); }
    int CurrentCommand() const { return m_cmdCode.load(); }
    bool NotResponding() const { return m_notResponding.load(); }
    // Tests: keep-alive polls run so far.
    unsigned KeepAlives() const { return m_keepAlives.load(); }

protected:
    // Derived constructors call StartWorker() last, derived destructors StopWorker() first.
    void StartWorker();
    void StopWorker();

    // Called on the worker. Open the transport if needed: 0 or a result code (1).
    virtual int EnsureOpen() = 0;
    // Whether an idle period should run a keep-alive.
    virtual bool IsConnected() const = 0;
    // After every command (keep-alives included), with its result.
    virtual void AfterCommand(int result) { (void)result; }
    // Cut a worker that did not stop in time: make its I/O fail.
    virtual void CutOff() {}
    virtual IPortIO* Port() = 0;

    const char* m_name;

private:
    void Run();
    int Execute(int command, uint8_t* buffer, uint32_t address, uint32_t size, bool keepAlive);
    // Progress passes through to the owner; the keep-alive reports nothing.
    int LinkProgress(int value) override;
    void LinkCompleted(int, int, bool) override {}

    ILinkNotifier* m_notify = nullptr;
    std::atomic<bool> m_verify{false};
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_cmdEvent = false;
    bool m_stopEvent = false;
    int m_pending = 0;
    uint8_t* m_pendingBuf = nullptr;
    uint32_t m_pendingAddr = 0, m_pendingSize = 0;
    bool m_inKeepAlive = false;
    std::atomic<int> m_errKind{0};
    std::atomic<uint32_t> m_errAddress{0};
    std::atomic<uint32_t> m_cmdAddress{0};
    std::atomic<int> m_cmdCode{0};
    std::atomic<bool> m_notResponding{false};
    std::atomic<unsigned> m_keepAlives{0};
    std::thread m_thread;
    std::mutex m_doneLock;
    std::condition_variable m_doneCv;
    bool m_done = false;
};
