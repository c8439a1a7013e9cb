#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/FlashChips.h"
#include "sim/CSimImage.h"

// A run of device memory: [address, address + size).
struct RSimRange {
    uint32_t address;
    uint32_t size;
};

// Which frames the simulated device speaks.
enum class SimDialect { Short1, Short2, Bus, BusB, PointB };
bool SimDialectFromName(const std::string& name, SimDialect& d);
const char* SimDialectName(SimDialect d);

struct RSimDeviceConfig {
    SimDialect dialect = SimDialect::PointB;
    const RFlashChip* chip = nullptr;
    int busAddress = 1;
    // Chip identification bytes reported instead of the chip's own (an unsupported chip).
    int chipId1 = -1, chipId2 = -1;
    // Erase, sector erase and commit: short dialect answers busy (0x10) for this long; the
    // addressed dialects answer "busy, not accepted" (2) to requests during it.
    int busyMs = 0;
    // Addressed dialects: erase, sector erase and commit answer "accepted" (1) and polls say
    // 1 until this long has passed.
    int acceptMs = 0;
    // After reinitialise the device restarts: no reply, and silence for this long.
    int reinitSilenceMs = 0;
    // Short and bus-classic dialects: the device's registers (register settings, controls,
    // status), plain memory among the flash addresses, as the direct region is on the others.
    std::vector<RSimRange> registers;
};

// One simulated device: memory image, flash chip emulation and command handling, without any
// transport. A front end (pty, sockets) hands it whole request frames, checked or not.
class CSimDevice {
public:
    explicit CSimDevice(const RSimDeviceConfig& cfg, CSimImage& image);

    // frame: one request frame as received (its checksum is checked here). Returns true and
    // fills reply when the device answers.
    bool HandleFrame(const uint8_t* frame, size_t len, int64_t nowMs, std::vector<uint8_t>& reply);

    const RSimDeviceConfig& Config() const { return m_cfg; }
    int BusAddress() const { return m_cfg.busAddress; }
    // The destination type byte of this device's addressed frames.
    uint8_t DeviceType() const;
    bool IsAddressed() const { return m_cfg.dialect != SimDialect::Short1 && m_cfg.dialect != SimDialect::Short2; }
    bool PageFamily() const { return m_cfg.dialect == SimDialect::BusB || m_cfg.dialect == SimDialect::PointB; }
    CSimImage& Image() { return m_img; }
    // Counters for tests and the log.
    unsigned Erases() const { return m_erases; }
    unsigned Reinits() const { return m_reinits; }

private:
    bool HandleShort(const uint8_t* f, size_t len, int64_t now, std::vector<uint8_t>& reply);
    bool HandleAddressed(const uint8_t* f, size_t len, int64_t now, std::vector<uint8_t>& reply);
    // Returns status bits 0-2 (0 done, 3 failed); data appended to out.
    int BlockCommand(uint8_t cmd, const uint8_t* d, int n, int64_t now, std::vector<uint8_t>& out, bool& started);
    int PageCommand(uint8_t cmd, const uint8_t* d, int n, int64_t now, std::vector<uint8_t>& out, bool& started);
    bool FlashIndex(uint32_t addr, uint32_t& region, uint32_t& index) const;
    bool LinearIndex(uint32_t addr, uint32_t& index) const;
    bool ReadLinear(uint32_t count, std::vector<uint8_t>& out);
    bool IsRegister(uint32_t index) const;

    RSimDeviceConfig m_cfg;
    CSimImage& m_img;
    uint32_t m_addr = 0;
    bool m_sigMode = false;
    std::vector<uint8_t> m_pageBuf;
    int64_t m_busyUntil = 0;
    int64_t m_acceptUntil = 0;
    int64_t m_silentUntil = 0;
    unsigned m_erases = 0, m_reinits = 0;
};
