#pragma once
#include "ConfigStore.h"

#include <cstdint>
#include <string>

// The `Layout` and `Main` keys the main window reads when it opens and writes when it closes.
struct CMainSettings {
    // Layout
    int left = -1, top = -1, width = -1, height = -1;
    int maximized = 0;
    // Main
    int interface = 3;  // 0 RS-232, 1 RS-422, 2 RS-485, 3 Ethernet TCP, 4 Ethernet UDP
    int port = 0;       // index into COM1..COM8
    uint32_t localIp = 0;
    int manualIp = 0;
    uint32_t ip = 0;
    std::string modelName, pictures, dataPath, binPath, profilePath, mscPath, dynLabelsPath;
    int background = 2, dither = 0, filter = 0, shadow = 0, shadowType = 0, shadowPixels = 2, shadowTransp = 0,
        shadowDepth = 0, verifyWrite = 0;

    void Load(const CConfigStore& store);
    // Only when both edges were stored is the stored placement used.
    bool HasPlacement() const { return left != -1 && top != -1; }
    // Everything the window writes when it is destroyed (LocalIP is written when chosen).
    void SaveOnClose(CConfigStore& store) const;
    static void SaveLocalIp(CConfigStore& store, uint32_t ip);
};

// The first line of "build.txt" in the folder, cut to 32 characters; empty when missing.
std::string ReadBuildLine(const std::string& folder);
