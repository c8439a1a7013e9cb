#include "link/CPerCommandLink.h"

#include "app/ConfigStore.h"
#include "app/DebugLog.h"

CPerCommandLink::CPerCommandLink(const char* name, LinkDialect dialect)
    : m_name(name), m_dialect(dialect), m_port(name) {}

CPerCommandLink::~CPerCommandLink() {
    {
        std::lock_guard<std::mutex> lock(m_cutLock);
        m_stopping = true;
        m_port.Cancel();
    }
    if (m_worker.thread.joinable()) m_worker.thread.join();
    ReapRetired(true);
}

void CPerCommandLink::ReapRetired(bool all) {
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if (all || it->notified->load()) {
            it->thread.join();  // past its completion: only the thread's exit is left
            it = m_retired.erase(it);
        } else {
            ++it;
        }
    }
}

void CPerCommandLink::StartCommand(ILinkNotifier* notify, const std::string& portPath, int busAddress, int command,
                                   uint8_t* buffer, uint32_t address, uint32_t size) {
    if (m_worker.thread.joinable()) {
        if (m_inCompletion && m_inCompletion->load()) {
            // Called from the previous command's completion: that worker waits for us to
            // return, so joining it here would never end.
            m_retired.push_back(std::move(m_worker));
        } else {
            // Only a worker the watchdog cut off can still be running; its port is shut.
            m_worker.thread.join();
        }
    }
    ReapRetired(false);
    m_notify = notify;
    m_path = portPath;
    m_bus = busAddress;
    m_command = command;
    m_buffer = buffer;
    m_address = address;
    m_size = size;
    m_err.Clear();
    m_port.ClearIo();
    m_port.SetDump(AppStore().ReadInt("Debug", "Serial", 0) != 0);
    const unsigned seq = ++m_seq;
    m_running = true;
    m_inCompletion = std::make_shared<std::atomic<bool>>(false);
    m_worker.notified = std::make_shared<std::atomic<bool>>(false);
    m_worker.thread = std::thread(&CPerCommandLink::Worker, this, seq, m_inCompletion, m_worker.notified);
}

void CPerCommandLink::Worker(unsigned seq, std::shared_ptr<std::atomic<bool>> inCompletion,
                             std::shared_ptr<std::atomic<bool>> notified) {
    int result;
    int value = 0;
    bool opened;
    {
        std::lock_guard<std::mutex> lock(m_cutLock);
        opened = !m_stopping && m_port.Open(m_path);
    }
    if (!opened) {
        result = kLinkPortOpen;
    } else {
        m_port.SetScanTimeouts(m_command == kCmdScan);
        CFrameLink frames(m_dialect, &m_port);
        frames.SetDestAddress(uint8_t(m_bus));
        result = RunSequence(frames, value);
    }
    bool cut;
    ILinkNotifier* notify = m_notify;
    {
        std::lock_guard<std::mutex> lock(m_cutLock);
        m_port.Close();
        cut = m_cutSeq == seq || m_stopping;
    }
    m_running = false;
    // A worker the watchdog cut off has no say any more: its owner already ended the operation.
    if (!cut && notify) {
        inCompletion->store(true);
        notify->LinkCompleted(result, value, true);
    }
    // Nothing of the object may be touched from here: a new command may own it already.
    notified->store(true);
}

int CPerCommandLink::CheckTimeout() { return CheckTimeoutAt(CSerialPort::NowMs()); }

int CPerCommandLink::CheckTimeoutAt(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(m_cutLock);
    const int kind = m_port.IoKind();
    const int64_t start = m_port.IoStartMs();
    if (!m_running || kind == 0 || start == 0 || nowMs - start < kWatchdogMs) return 0;
    DebugLog("%s::CheckTimeout() fired!", m_name);
    DebugLog("last attempted operation was: %s", kind == 2 ? "write" : "read");
    m_cutSeq = m_seq;
    // No thread is killed here: shutting the port makes its blocked I/O fail at once.
    m_port.Cancel();
    DebugLog("TerminateThread() returns %d", 1);
    if (m_port.IsOpen()) DebugLog("CloseHandle() returns %d", 1);
    m_port.ClearIo();
    return 1;
}

int CSerial232::RunSequence(CFrameLink& frames, int& value) {
    CBlockFamily seq(frames, m_notify, m_p2);
    int r = kLinkOk;
    switch (m_command) {
        case kCmdIdentity: r = seq.Identity(m_size, m_buffer, value); break;
        case kCmdRead: r = seq.Read(m_address, m_size, m_buffer); break;
        case kCmdWrite:
        case kCmdEraseWrite:
        case kCmdErase: r = seq.WriteErase(m_command, m_address, m_size, m_buffer); break;
        default: break;
    }
    m_err = seq.Error();
    return r;
}

int CSerial485::RunSequence(CFrameLink& frames, int& value) {
    CBlockFamily seq(frames, m_notify);
    int r = kLinkOk;
    switch (m_command) {
        case kCmdIdentity: r = seq.Identity(m_size, m_buffer, value); break;
        case kCmdRead: r = seq.Read(m_address, m_size, m_buffer); break;
        case kCmdWrite:
        case kCmdEraseWrite:
        case kCmdErase: r = seq.WriteErase(m_command, m_address, m_size, m_buffer); break;
        case kCmdBusAddress: r = seq.SetBusAddress(m_buffer[0]); break;
        case kCmdScan: r = seq.Scan(m_buffer); break;
        default: break;
    }
    m_err = seq.Error();
    return r;
}

int CSerial485B::RunSequence(CFrameLink& frames, int& value) {
    (void)value;
    CPageFamily seq(frames, m_notify, "CSerial485B");
    int r = kLinkOk;
    switch (m_command) {
        case kCmdRead: r = seq.Read(m_address, m_size, m_buffer); break;
        case kCmdWrite:
        case kCmdEraseWrite: r = seq.Write(m_address, m_size, m_buffer, false); break;
        case kCmdBusAddress: r = seq.SetBusAddress(m_buffer[0]); break;
        case kCmdScan: r = seq.Scan(m_buffer); break;
        default: break;
    }
    m_err = seq.Error();
    return r;
}
