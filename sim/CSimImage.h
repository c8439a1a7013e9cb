#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The simulated device's persistent memory: a file mapped into memory, so every write is in
// the file at once (tests read it directly) and the state survives restarts.
//
// Layout: a 4096-byte header (RSimImageHeader), the direct region (kDirectBytes, plain), then
// kRegions flash arrays of flashBytes each. Flash bytes are stored inverted, so the holes of
// a new sparse file read as erased (0xFF) flash.
struct RSimImageHeader {
    char magic[8];  // "VAROSIM\0"
    uint32_t version;
    char chip[16];
    uint32_t flashBytes;
    uint32_t regions;
    uint32_t directBytes;
    char signature[32];
    uint8_t identity[64];
    uint8_t clock[7];
    uint8_t clockSet;
};

class CSimImage {
public:
    static constexpr uint32_t kHeaderBytes = 4096;
    static constexpr uint32_t kDirectBytes = 0x10000;
    static constexpr uint32_t kRegions = 16;

    CSimImage() = default;
    ~CSimImage();
    CSimImage(const CSimImage&) = delete;
    CSimImage& operator=(const CSimImage&) = delete;

    // Opens or creates the image for a chip of flashBytes; error says why it failed.
    bool Open(const std::string& path, const std::string& chip, uint32_t flashBytes, std::string& error);
    // Opens an existing image read-only, whatever its chip (tests, tools).
    bool OpenExisting(const std::string& path, std::string& error);
    void Close();

    RSimImageHeader& Header() { return *reinterpret_cast<RSimImageHeader*>(m_map); }
    uint32_t FlashBytes() const { return m_flashBytes; }
    uint8_t* Direct() { return m_map + kHeaderBytes; }

    // Flash byte access (region 0..15, offset < FlashBytes()).
    uint8_t Flash(uint32_t region, uint32_t offset) const {
        return uint8_t(~m_map[kHeaderBytes + kDirectBytes + size_t(region) * m_flashBytes + offset]);
    }
    void SetFlash(uint32_t region, uint32_t offset, uint8_t v) {
        m_map[kHeaderBytes + kDirectBytes + size_t(region) * m_flashBytes + offset] = uint8_t(~v);
    }
    // NOR programming: only clears bits.
    void ProgramFlash(uint32_t region, uint32_t offset, uint8_t v) { SetFlash(region, offset, Flash(region, offset) & v); }
    void EraseFlash(uint32_t region, uint32_t offset, uint32_t count);

private:
    bool Map(int fd, size_t size, bool writable, std::string& error);

    uint8_t* m_map = nullptr;
    size_t m_size = 0;
    uint32_t m_flashBytes = 0;
};
