#include "sim/CSimImage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

CSimImage::~CSimImage() { Close(); }

void CSimImage::Close() {
    if (m_map) munmap(m_map, m_size);
    m_map = nullptr;
    m_size = 0;
}

bool CSimImage::Map(int fd, size_t size, bool writable, std::string& error) {
    void* p = mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        error = std::string("cannot map the image: ") + std::strerror(errno);
        return false;
    }
    m_map = static_cast<uint8_t*>(p);
    m_size = size;
    return true;
}

bool CSimImage::Open(const std::string& path, const std::string& chip, uint32_t flashBytes, std::string& error) {
    Close();
    const size_t size = kHeaderBytes + kDirectBytes + size_t(kRegions) * flashBytes;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open image " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    fstat(fd, &st);
    const bool fresh = st.st_size == 0;
    if (!fresh && size_t(st.st_size) != size) {
        RSimImageHeader h{};
        ssize_t r = pread(fd, &h, sizeof h, 0);
        ::close(fd);
        h.chip[15] = 0;
        error = "image " + path + " was made for " + (r == ssize_t(sizeof h) ? std::string(h.chip) : "?") +
                ", not " + chip;
        return false;
    }
    if (fresh && ftruncate(fd, off_t(size)) != 0) {
        error = "cannot size image " + path;
        ::close(fd);
        return false;
    }
    bool ok = Map(fd, size, true, error);
    ::close(fd);
    if (!ok) return false;
    m_flashBytes = flashBytes;
    RSimImageHeader& h = Header();
    if (fresh) {
        std::memcpy(h.magic, "VAROSIM", 8);
        h.version = 1;
        std::strncpy(h.chip, chip.c_str(), sizeof h.chip - 1);
        h.flashBytes = flashBytes;
        h.regions = kRegions;
        h.directBytes = kDirectBytes;
    } else if (std::memcmp(h.magic, "VAROSIM", 8) != 0 || h.flashBytes != flashBytes) {
        error = "image " + path + " is not a varosim image for " + chip;
        Close();
        return false;
    }
    return true;
}

bool CSimImage::OpenExisting(const std::string& path, std::string& error) {
    Close();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open image " + path;
        return false;
    }
    RSimImageHeader h{};
    struct stat st;
    fstat(fd, &st);
    if (pread(fd, &h, sizeof h, 0) != ssize_t(sizeof h) || std::memcmp(h.magic, "VAROSIM", 8) != 0 ||
        size_t(st.st_size) != kHeaderBytes + kDirectBytes + size_t(kRegions) * h.flashBytes) {
        ::close(fd);
        error = "not a varosim image: " + path;
        return false;
    }
    const size_t size = size_t(st.st_size);
    bool ok = Map(fd, size, false, error);
    ::close(fd);
    if (ok) m_flashBytes = h.flashBytes;
    return ok;
}

void CSimImage::EraseFlash(uint32_t region, uint32_t offset, uint32_t count) {
    std::memset(m_map + kHeaderBytes + kDirectBytes + size_t(region) * m_flashBytes + offset, 0, count);
}
