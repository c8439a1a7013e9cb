#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Little-endian byte streams for our own binary files. Reads fail (and stay failed) at the end
// of the data instead of touching memory past it, so loaders can check once at the end.
class CByteSource {
public:
    virtual ~CByteSource() = default;
    bool Read(void* dst, size_t n);
    bool ReadI32(int32_t& v);
    bool ReadU32(uint32_t& v);
    bool ReadF64(double& v);
    bool Failed() const { return m_failed; }

protected:
    virtual size_t ReadSome(void* dst, size_t n) = 0;

private:
    bool m_failed = false;
};

class CMemorySource : public CByteSource {
public:
    CMemorySource(const void* data, size_t size) : m_data(static_cast<const uint8_t*>(data)), m_size(size) {}

protected:
    size_t ReadSome(void* dst, size_t n) override;

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Owns the FILE it opens; IsOpen() tells whether the path could be opened.
class CFileSource : public CByteSource {
public:
    explicit CFileSource(const std::string& path);
    ~CFileSource() override;
    CFileSource(const CFileSource&) = delete;
    CFileSource& operator=(const CFileSource&) = delete;
    bool IsOpen() const { return m_file != nullptr; }

protected:
    size_t ReadSome(void* dst, size_t n) override;

private:
    FILE* m_file = nullptr;
};

// Collects a whole file in memory; WriteToFile puts it on disk in one go.
class CByteSink {
public:
    void Put(const void* src, size_t n);
    void PutI32(int32_t v);
    void PutU32(uint32_t v);
    void PutF64(double v);
    void PutZeros(size_t n) { m_bytes.resize(m_bytes.size() + n, 0); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    // true when the file was created and every byte (and the close) succeeded.
    bool WriteToFile(const std::string& path) const;

private:
    std::vector<uint8_t> m_bytes;
};
