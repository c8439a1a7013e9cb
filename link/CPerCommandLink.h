#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/CSerialPort.h"
#include "link/FlashSequences.h"
#include "link/LinkDefs.h"

// The per-command serial links: a new worker and a freshly opened port for every command,
// supervised by the owner's one-second watchdog (CheckTimeout).
class CPerCommandLink {
public:
    static constexpr int kWatchdogMs = 5000;

    CPerCommandLink(const char* name, LinkDialect dialect);
    virtual ~CPerCommandLink();
    CPerCommandLink(const CPerCommandLink&) = delete;
    CPerCommandLink& operator=(const CPerCommandLink&) = delete;

    // Returns at once; the completion comes through the notifier (blocking). May be called
    // from inside that completion (the next step of an operation): the worker waiting there
    // is not joined then, only retired. A worker still running (only after a watchdog cut)
    // is waited for first.
    void StartCommand(ILinkNotifier* notify, const std::string& portPath, int busAddress, int command,
                      uint8_t* buffer, uint32_t address, uint32_t size);
    // The watchdog: fires when one port read or write has lasted kWatchdogMs or more. The
    // worker is cut off (its port shut, its completion dropped); returns 1 if it fired.
    int CheckTimeout();
    int CheckTimeoutAt(int64_t nowMs);

    int ErrorKind() const { return m_err.kind; }
    uint32_t ErrorAddress() const { return m_err.address; }
    uint32_t StartAddress() const { return m_address; }
    int Command() const { return m_command; }
    bool Running() const { return m_running.load(); }
    const char* Name() const { return m_name; }

protected:
    // Runs the command's sequence on the open port; value = completion's second parameter.
    virtual int RunSequence(CFrameLink& frames, int& value) = 0;

    const char* m_name;
    LinkDialect m_dialect;
    ILinkNotifier* m_notify = nullptr;
    std::string m_path;
    int m_bus = 0;
    int m_command = 0;
    uint8_t* m_buffer = nullptr;
    uint32_t m_address = 0;
    uint32_t m_size = 0;
    RLinkError m_err;

private:
    // A worker whose completion may still be running on the owner's thread.
    struct RWorker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> notified;  // its completion call has returned
    };
    void Worker(unsigned seq, std::shared_ptr<std::atomic<bool>> inCompletion,
                std::shared_ptr<std::atomic<bool>> notified);
    void ReapRetired(bool all);

    CSerialPort m_port;
    RWorker m_worker;
    std::shared_ptr<std::atomic<bool>> m_inCompletion;  // of m_worker
    std::vector<RWorker> m_retired;
    std::atomic<bool> m_running{false};
    std::mutex m_cutLock;       // makes "fire", "open" and "close" exclusive
    bool m_stopping = false;    // the object is going: no new I/O, no completion
    unsigned m_seq = 0;
    unsigned m_cutSeq = 0;      // the command the watchdog cut off
};

// RS-232, short dialect (protocols 1 and 2).
class CSerial232 : public CPerCommandLink {
public:
    CSerial232() : CPerCommandLink("CSerial232", LinkDialect::Short) {}
    void SetProtocol2(bool on) { m_p2 = on; }

protected:
    int RunSequence(CFrameLink& frames, int& value) override;

private:
    bool m_p2 = false;
};

// RS-485, bus classic (protocol 3).
class CSerial485 : public CPerCommandLink {
public:
    CSerial485() : CPerCommandLink("CSerial485", LinkDialect::Bus) {}

protected:
    int RunSequence(CFrameLink& frames, int& value) override;
};

// RS-485, bus B (protocol 4).
class CSerial485B : public CPerCommandLink {
public:
    CSerial485B() : CPerCommandLink("CSerial485B", LinkDialect::BusB) {}

protected:
    int RunSequence(CFrameLink& frames, int& value) override;
};
