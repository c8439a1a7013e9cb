#pragma once
#include <string>

#include "link/CLongLivedLink.h"
#include "link/CSerialPort.h"

// RS-422, point B (protocol 5): one long-lived worker; the port is opened by the first command
// and kept open until a command fails or the object goes.
class CSerial232B : public CLongLivedLink {
public:
    // Logs "CSerial232B::Start(%d)" with the port index (-1 when a path was given directly).
    CSerial232B(const std::string& portPath, int portIndex, ILinkNotifier* notify);
    ~CSerial232B() override;

    const std::string& PortPath() const { return m_path; }
    int PortIndex() const { return m_index; }
    // Tests: how many times the port was opened.
    unsigned Opens() const { return m_opens.load(); }

protected:
    int EnsureOpen() override;
    bool IsConnected() const override { return m_port.IsOpen(); }
    void AfterCommand(int result) override;
    void CutOff() override { m_port.Cancel(); }
    IPortIO* Port() override { return &m_port; }

private:
    std::string m_path;
    int m_index;
    CSerialPort m_port;
    std::atomic<unsigned> m_opens{0};
};
