#pragma once
#include "model/CPnPBlock.h"

#include <string>
#include <vector>

// Largest binary region; the data buffer is made at load time of a file and must stay bounded.
constexpr int32_t kPnPMaxBinSize = 0x1000000;

enum PnPBinLoadResult : int {
    kPnPBinLoaded = 0,
    kPnPBinCannotOpen = 1,  // message 21201 with the path
    kPnPBinWrongSize = 2,   // "Unsupported file size!..." with the size
};

// "bin": a binary region loaded from a file and written into the element's items.
class CPnPBin : public CPnPBlock {
public:
    CPnPBin(const TiXmlElement* e, const PnPReadContext& ctx);
    ~CPnPBin() override;

    int32_t size = 1;
    bool exactSize = false;
    std::string info;
    bool loaded = false;
    std::vector<uint8_t> data;  // size bytes once loaded

    // The file's first min(length, size) bytes over a 0xFF fill; the data stays on failure.
    int LoadFile(const std::string& path);
};
