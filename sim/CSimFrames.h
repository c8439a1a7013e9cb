#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/CSimDevice.h"

// Splits the request byte stream of a serial line into frames of one dialect. Bytes that do
// not start a frame with a valid checksum are dropped one at a time (resynchronisation).
class CSimFrameAssembler {
public:
    explicit CSimFrameAssembler(SimDialect d) : m_dialect(d) {}
    void Feed(const uint8_t* data, size_t n);
    // Next whole frame, true when one was available.
    bool Next(std::vector<uint8_t>& frame);
    // A half frame left by a host that went away is forgotten.
    void Reset() { m_buf.clear(); }
    size_t Pending() const { return m_buf.size(); }

private:
    SimDialect m_dialect;
    std::vector<uint8_t> m_buf;
};

// Reproducible line faults on the reply side of a device.
struct RSimFaults {
    double drop = 0;     // the reply is lost (on the pty: after the device carried the request out)
    double corrupt = 0;  // one byte of the reply is flipped
    double stray = 0;    // 1 to 4 stray bytes go out before the reply
    // "drop=P,corrupt=P,stray=P"; false on a bad list.
    bool Parse(const std::string& text, std::string& error);
};

class CSimFaultInjector {
public:
    CSimFaultInjector(const RSimFaults& f, uint32_t seed) : m_f(f), m_rng(seed) {}
    // One roll of the drop probability; the pty front end carries the request out first and
    // then loses the reply (DropReply), a front end may also lose the request (DropRequest).
    bool DropReply() { return Roll(m_f.drop); }
    bool DropRequest() { return Roll(m_f.drop); }
    // Applies corruption and stray bytes to a reply about to go out.
    void Apply(std::vector<uint8_t>& reply);

private:
    bool Roll(double p) { return p > 0 && std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
    RSimFaults m_f;
    std::mt19937 m_rng;
};

// Devices sharing one line: a point-B or RS-232 line has one, an RS-485 bus several.
class CSimLine {
public:
    void Add(CSimDevice* d) { m_devices.push_back(d); }
    // Every device that the frame addresses handles it; the first answer goes on the line.
    bool HandleFrame(const std::vector<uint8_t>& frame, int64_t nowMs, std::vector<uint8_t>& reply);
    const std::vector<CSimDevice*>& Devices() const { return m_devices; }

private:
    std::vector<CSimDevice*> m_devices;
    std::vector<uint8_t> m_scratch;
};
