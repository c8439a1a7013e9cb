#pragma once
#include <cstdint>
#include <vector>

// The "Device IP" list after a search: the addresses found (already sorted), the address that
// was selected before kept selected when found again, else added at the end with the first
// entry selected.
struct RDeviceList {
    std::vector<uint32_t> entries;
    int selected = -1;
};
RDeviceList RefillDeviceList(const std::vector<uint32_t>& found, uint32_t previouslySelected);

// "Find": the devices answering the discovery request on the local interface, sorted by
// address (read as a signed little-endian integer). Blocks for the 2-second search.
std::vector<uint32_t> FindEthernetDevices(uint32_t localIp, int waitMs = 2000);
