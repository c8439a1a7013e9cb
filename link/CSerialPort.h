#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "link/PortIO.h"

// Path of COM port n (1-based): store section `Ports` key "COMn", default /dev/ttyS(n-1).
std::string ComPortPath(int number);
// The port list: "COM1".."COM8", each with the path it opens.
struct RComPort {
    std::string name, path;
};
std::vector<RComPort> ComPortList();
// "COM3" -> its path; anything else is taken as a path.
std::string ResolvePortTarget(const std::string& target);

// One serial port: raw 38400 8N1, no flow control, DTR and RTS cleared, exclusive (TIOCEXCL
// and flock: a port held elsewhere fails to open). The Windows time-outs are realised with
// poll(). Cancel() is the watchdog's cut: any blocked or later I/O fails at once.
class CSerialPort : public IPortIO {
public:
    // name: the class whose lines are logged ("CSerial232", "CSerial232B" ...).
    explicit CSerialPort(const char* name);
    ~CSerialPort() override;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    int Handle() const { return m_fd; }
    // The bus scan runs with short time-outs.
    void SetScanTimeouts(bool scan) { m_scan = scan; }
    void SetDump(bool on) { m_dump = on; }
    // Thread-safe: makes the current and every later read or write fail until Open().
    void Cancel();

    bool PortWriteData(const uint8_t* data, int count) override;
    bool PortReadData(uint8_t* data, int count) override;

    // Watchdog view: 0 none, 1 read, 2 write; start in steady-clock milliseconds.
    int IoKind() const { return m_ioKind.load(); }
    int64_t IoStartMs() const { return m_ioStart.load(); }
    void ClearIo() {
        m_ioKind = 0;
        m_ioStart = 0;
    }
    static int64_t NowMs();

private:
    // One "ReadFile": waits for the first byte up to the total time-out, then takes bytes
    // until the interval time-out; returns the count (0 = time-out), -1 on error.
    int ReadOnce(uint8_t* data, int count);
    void Dump(const char* what, const uint8_t* data, int count);

    const char* m_name;
    int m_fd = -1;
    int m_cancelFd = -1;  // eventfd the watchdog signals
    bool m_scan = false;
    bool m_dump = false;
    // Bytes the driver had beyond what a read asked for (the point-B header is read byte by
    // byte; one system call per byte would halve the exchange rate).
    uint8_t m_in[512];
    int m_inPos = 0, m_inLen = 0;
    std::atomic<int> m_ioKind{0};
    std::atomic<int64_t> m_ioStart{0};
};
