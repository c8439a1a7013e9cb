#include "lanora/protocol/ModulePassportFile.h"

#include <cstdio>

namespace {
void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
}  // namespace

std::array<uint8_t, kPassportBlockSize> PassportBlock(const std::array<uint8_t, kPassportSize>& passport,
                                                      uint32_t deviceIp) {
    std::array<uint8_t, kPassportBlockSize> b{};
    PutLE32(&b[0], 1);    // format version
    PutLE32(&b[4], 62);   // header size
    PutLE32(&b[8], 418);  // data size
    ModulePutIp(&b[12], deviceIp);
    std::memcpy(&b[62], passport.data(), kPassportSize);
    uint16_t crc = ModuleCrc16(b.data(), b.size());  // the CRC field is still 0 here
    b[16] = uint8_t(crc);
    b[17] = uint8_t(crc >> 8);
    return b;
}

std::string PassportFileText(const std::array<uint8_t, kPassportSize>& passport, uint32_t deviceIp,
                             const std::vector<RHistoryPage>& pages) {
    auto block = PassportBlock(passport, deviceIp);
    std::string s = "---DEVICEPASSPORT---\n";
    static const char hex[] = "0123456789ABCDEF";
    for (size_t line = 0; line < 15; ++line) {
        for (size_t i = 0; i < 32; ++i) {
            uint8_t v = block[line * 32 + i];
            s += hex[v >> 4];
            s += hex[v & 15];
        }
        s += '\n';
    }
    s += "---DATAEND---\n";
    for (size_t i = 0; i < pages.size(); ++i) {
        if (!pages[i].hasText) continue;
        char head[40];
        std::snprintf(head, sizeof head, "---HISTORY PAGE %d---\n", int(i) + 1);
        s += head;
        s += pages[i].text;
        s += '\n';
    }
    return s;
}

std::string PassportDefaultName(const std::array<uint8_t, kPassportSize>& p, const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "passport_%02X%02X%02X%02X%02X%02X_%04d%02d%02d%02d%02d%02d", p[8], p[9], p[10],
                  p[11], p[12], p[13], t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}
