#include "signals/ByteStream.h"

#include <cstring>

bool CByteSource::Read(void* dst, size_t n) {
    if (m_failed) return false;
    if (n == 0) return true;
    if (ReadSome(dst, n) != n) m_failed = true;
    return !m_failed;
}

bool CByteSource::ReadU32(uint32_t& v) {
    uint8_t b[4];
    if (!Read(b, 4)) return false;
    v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool CByteSource::ReadI32(int32_t& v) {
    uint32_t u;
    if (!ReadU32(u)) return false;
    v = static_cast<int32_t>(u);
    return true;
}

bool CByteSource::ReadF64(double& v) {
    uint8_t b[8];
    if (!Read(b, 8)) return false;
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = u << 8 | b[i];
    std::memcpy(&v, &u, 8);
    return true;
}

size_t CMemorySource::ReadSome(void* dst, size_t n) {
    if (m_size - m_pos < n) return 0;
    std::memcpy(dst, m_data + m_pos, n);
    m_pos += n;
    return n;
}

CFileSource::CFileSource(const std::string& path) { m_file = std::fopen(path.c_str(), "rb"); }

CFileSource::~CFileSource() {
    if (m_file) std::fclose(m_file);
}

size_t CFileSource::ReadSome(void* dst, size_t n) { return m_file ? std::fread(dst, 1, n, m_file) : 0; }

void CByteSink::Put(const void* src, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(src);
    m_bytes.insert(m_bytes.end(), p, p + n);
}

void CByteSink::PutU32(uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    Put(b, 4);
}

void CByteSink::PutI32(int32_t v) { PutU32(static_cast<uint32_t>(v)); }

void CByteSink::PutF64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = uint8_t(u >> (8 * i));
    Put(b, 8);
}

bool CByteSink::WriteToFile(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = m_bytes.empty() || std::fwrite(m_bytes.data(), 1, m_bytes.size(), f) == m_bytes.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}
