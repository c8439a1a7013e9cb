#pragma once
#include <cstdint>
#include <vector>

// One local IPv4 interface; addresses with the first octet in the low byte.
struct REthernetInterface {
    uint32_t address = 0;
    uint32_t mask = 0;
    uint32_t reserved = 0;  // always 0
};

// The computer's IPv4 interfaces, skipping 0.0.0.0, 127.x.x.x, 255.x.x.x and repeats.
// True when at least one was found.
bool ListLocalInterfaces(std::vector<REthernetInterface>& out);
