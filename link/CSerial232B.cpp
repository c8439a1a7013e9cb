#include "link/CSerial232B.h"

#include "app/ConfigStore.h"
#include "app/DebugLog.h"

CSerial232B::CSerial232B(const std::string& portPath, int portIndex, ILinkNotifier* notify)
    : CLongLivedLink("CSerial232B"), m_path(portPath), m_index(portIndex), m_port("CSerial232B") {
    DebugLog("CSerial232B::Start(%d)", portIndex);
    SetNotifier(notify);
    m_port.SetDump(AppStore().ReadInt("Debug", "Serial", 0) != 0);
    StartWorker();
}

CSerial232B::~CSerial232B() {
    DebugLog("CSerial232B::Stop()");
    StopWorker();
    m_port.Close();
}

int CSerial232B::EnsureOpen() {
    if (m_port.IsOpen()) return kLinkOk;
    const bool ok = m_port.Open(m_path);
    DebugLog("CSerial232B(): CreateFile() = %d", ok ? m_port.Handle() : -1);
    if (!ok) return kLinkPortOpen;
    ++m_opens;
    DebugLog("CSerial232B(): port speed = %d", 38400);
    return kLinkOk;
}

void CSerial232B::AfterCommand(int result) {
    if (m_port.IsOpen() && result != kLinkOk) {
        DebugLog("CSerial232B(): disconnected!");
        m_port.Close();
    }
}
