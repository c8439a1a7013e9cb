#include "model/CPnPBin.h"

#include "app/DebugLog.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdio>

CPnPBin::CPnPBin(const TiXmlElement* e, const PnPReadContext& ctx) : CPnPBlock(e, kPnPBin, ctx) {
    size = PnPAttrSigned(e, "size");
    if (size <= 0) size = 1;
    if (size > kPnPMaxBinSize) {
        DebugLog("CPnPBin(): size %d of [%s] limited to %d", size, name.c_str(), kPnPMaxBinSize);
        size = kPnPMaxBinSize;
    }
    exactSize = PnPAttrBool(e, "exact_size");
    info = ReadInfo(e, ctx);
    for (auto& it : items) it->size = size;
}

CPnPBin::~CPnPBin() = default;

int CPnPBin::LoadFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return kPnPBinCannotOpen;
    long length = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
    if (length < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return kPnPBinCannotOpen;
    }
    if (exactSize && length != long(size)) {
        std::fclose(f);
        return kPnPBinWrongSize;
    }
    std::vector<uint8_t> buf(size_t(size), 0xFF);
    size_t want = size_t(std::min<long>(length, size));
    size_t got = want ? std::fread(buf.data(), 1, want, f) : 0;
    std::fclose(f);
    if (got != want) return kPnPBinCannotOpen;
    data.swap(buf);
    loaded = true;
    return kPnPBinLoaded;
}
