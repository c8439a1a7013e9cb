#include "IpAddress.h"

#include <cstdio>

std::string IpToString(uint32_t ip) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", IpOctet(ip, 0), IpOctet(ip, 1), IpOctet(ip, 2), IpOctet(ip, 3));
    return buf;
}

bool IpFromString(const std::string& text, uint32_t& ip) {
    unsigned oct[4];
    int field = 0;
    size_t i = 0;
    while (field < 4) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        unsigned v = 0;
        int digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            v = v * 10 + unsigned(text[i] - '0');
            if (++digits > 3 || v > 255) return false;
            ++i;
        }
        oct[field++] = v;
        if (field < 4) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
    }
    if (i != text.size()) return false;
    ip = IpFromOctets(oct[0], oct[1], oct[2], oct[3]);
    return true;
}
