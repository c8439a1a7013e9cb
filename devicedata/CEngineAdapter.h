#pragma once
#include "devicedata/COperations.h"
#include "devicedata/IDeviceEngine.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"

// The link's command engine as the operation protocol sees it.
class CEngineAdapter : public IDeviceEngine {
public:
    explicit CEngineAdapter(CSerial& engine) : m_e(engine) {}
    void StartCommand(int size, int command, uint32_t address, uint8_t* buffer) override {
        m_e.StartCommand(size, command, address, buffer);
    }
    int ErrorKind() const override { return m_e.ErrorKind(); }
    uint32_t ErrorAddress() const override { return m_e.ErrorAddress(); }
    uint32_t CommandAddress() const override { return m_e.CommandAddress(); }
    int CurrentCommand() const override { return m_e.CommandCode(); }
    int Protocol() const override { return m_e.Protocol(); }
    bool Watchdog() override { return m_e.CheckTimeout() != 0; }
    CSerial& Engine() { return m_e; }

private:
    CSerial& m_e;
};

// For owners without an event loop (varoctl, tests): hands the link's notifications to the
// operation protocol until the operation has ended. Returns false when nothing arrived within
// timeoutMs (< 0: no limit); the operation is then ended.
bool RunOperation(COperations& ops, CLinkWaiter& waiter, CSerial& engine, int timeoutMs = -1);
