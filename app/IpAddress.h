#pragma once
#include <netinet/in.h>

#include <cstdint>
#include <string>

// IPv4 addresses throughout the program and the device link are 32-bit values whose lowest
// byte is the first octet (network byte order read as a little-endian integer).
inline uint32_t IpFromOctets(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a & 0xFF) | ((b & 0xFF) << 8) | ((c & 0xFF) << 16) | ((d & 0xFFu) << 24);
}
inline unsigned IpOctet(uint32_t ip, int i) { return (ip >> (8 * i)) & 0xFF; }

// "192.168.1.10"
std::string IpToString(uint32_t ip);
// Strict dotted decimal, four fields of 0..255; false leaves ip unchanged.
bool IpFromString(const std::string& text, uint32_t& ip);

// The store keeps the value as signed decimal.
inline int32_t IpToStored(uint32_t ip) { return static_cast<int32_t>(ip); }
inline uint32_t IpFromStored(int32_t v) { return static_cast<uint32_t>(v); }

// A socket address for ip (first octet in the low byte, which is network order in memory).
inline sockaddr_in SocketAddress(uint32_t ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = ip;
    return a;
}
