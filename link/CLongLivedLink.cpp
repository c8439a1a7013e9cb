#include "link/CLongLivedLink.h"

#include <chrono>

#include "app/DebugLog.h"

CLongLivedLink::CLongLivedLink(const char* name) : m_name(name) {}

CLongLivedLink::~CLongLivedLink() { StopWorker(); }

void CLongLivedLink::StartWorker() {
    m_done = false;
    m_thread = std::thread(&CLongLivedLink::Run, this);
}

void CLongLivedLink::StopWorker() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopEvent = true;
    }
    m_cv.notify_all();
    {
        std::unique_lock<std::mutex> lock(m_doneLock);
        if (!m_doneCv.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [this] { return m_done; })) {
            // Instead of terminating the thread: its transport is cut, so its I/O ends now.
            DebugLog("%s::Stop(): worker did not end, cutting it off", m_name);
            lock.unlock();
            CutOff();
        }
    }
    m_thread.join();
}

void CLongLivedLink::Command(int command, uint8_t* buffer, uint32_t address, uint32_t size) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pending = command;
        m_pendingBuf = buffer;
        m_pendingAddr = address;
        m_pendingSize = size;
        m_errKind = 0;
        m_errAddress = 0;
        m_cmdEvent = true;
    }
    m_cv.notify_all();
}

int CLongLivedLink::LinkProgress(int value) {
    if (m_inKeepAlive || !m_notify) return 0;
    return m_notify->LinkProgress(value);
}

void CLongLivedLink::Run() {
    DebugLog("%s::Run()", m_name);
    for (;;) {
        int command = 0;
        uint8_t* buffer = nullptr;
        uint32_t address = 0, size = 0;
        bool keepAlive = false;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_cv.wait_for(lock, std::chrono::milliseconds(kIdleMs), [this] { return m_cmdEvent || m_stopEvent; });
            if (m_stopEvent) break;
            if (m_cmdEvent) {
                m_cmdEvent = false;
                command = m_pending;
                buffer = m_pendingBuf;
                address = m_pendingAddr;
                size = m_pendingSize;
                if (command == 0) continue;
            } else {
                if (!IsConnected()) continue;
                keepAlive = true;
                command = kCmdStatus;
            }
        }
        const int r = Execute(command, buffer, address, size, keepAlive);
        // Port and flag first: whoever handles the completion sees the link as it now is.
        AfterCommand(r);
        if (r == kLinkNoReply) m_notResponding = true;
        if (r == kLinkOk) m_notResponding = false;
        if (!keepAlive && m_notify) m_notify->LinkCompleted(r, 0, false);
    }
    {
        std::lock_guard<std::mutex> lock(m_doneLock);
        m_done = true;
    }
    m_doneCv.notify_all();
}

int CLongLivedLink::Execute(int command, uint8_t* buffer, uint32_t address, uint32_t size, bool keepAlive) {
    if (keepAlive) {
        ++m_keepAlives;
    } else {
        m_cmdCode = command;
        m_cmdAddress = address;
    }
    DebugLog("%s::Run(): command: %d", m_name, command);
    int r = EnsureOpen();
    if (r != kLinkOk) return r;
    CFrameLink frames(LinkDialect::PointB, Port());
    m_inKeepAlive = keepAlive;
    CPageFamily seq(frames, this, m_name);
    switch (command) {
        case kCmdRead: r = seq.Read(address, size, buffer); break;
        case kCmdWrite:
        case kCmdEraseWrite: r = seq.Write(address, size, buffer, m_verify.load()); break;
        case kCmdStatus: r = seq.StatusPoll(); break;
        case kCmdClock: r = seq.SetClock(); break;
        default: r = kLinkOk; break;  // 1, 6, 8, 4096: nothing to do on this link
    }
    m_inKeepAlive = false;
    if (!keepAlive) {
        m_errKind = seq.Error().kind;
        m_errAddress = seq.Error().address;
    }
    return r;
}
