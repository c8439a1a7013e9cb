#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "sim/CSimFrames.h"

// The serial front end: a pseudo-terminal whose slave side the program opens as its port.
// Requests are split into frames, handed to the devices on the line, and the answer is
// written back, paced like a real 8N1 line when a baud rate is set.
class CSimPty {
public:
    CSimPty(CSimLine& line, SimDialect dialect, const RSimFaults& faults, uint32_t seed, int baud);
    ~CSimPty();

    // Creates the pty; linkPath (may be empty) becomes a symbolic link to its slave.
    bool Open(const std::string& linkPath, std::string& error);
    const std::string& SlavePath() const { return m_slave; }
    // Serves until stop becomes true.
    void Run(const std::atomic<bool>& stop);

    // Tests and the log.
    unsigned Frames() const { return m_frames; }

private:
    void Send(const std::vector<uint8_t>& bytes, int64_t startUs);
    static int64_t NowUs();

    CSimLine& m_line;
    CSimFrameAssembler m_asm;
    CSimFaultInjector m_faults;
    int m_baud;
    int m_master = -1;
    int m_slaveKeep = -1;  // keeps the line up while the program has the port closed
    std::string m_slave, m_link;
    unsigned m_frames = 0;
};
