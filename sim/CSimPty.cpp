#include "sim/CSimPty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

CSimPty::CSimPty(CSimLine& line, SimDialect dialect, const RSimFaults& faults, uint32_t seed, int baud)
    : m_line(line), m_asm(dialect), m_faults(faults, seed), m_baud(baud) {}

CSimPty::~CSimPty() {
    if (!m_link.empty()) ::unlink(m_link.c_str());
    if (m_slaveKeep >= 0) ::close(m_slaveKeep);
    if (m_master >= 0) ::close(m_master);
}

int64_t CSimPty::NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool CSimPty::Open(const std::string& linkPath, std::string& error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(m_master);
    if (!name) {
        error = "ptsname failed";
        return false;
    }
    m_slave = name;
    m_slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveKeep < 0) {
        error = "cannot open " + m_slave;
        return false;
    }
    // Raw from the start: an echo would send the device's own replies back to it.
    termios tio;
    tcgetattr(m_slaveKeep, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slaveKeep, TCSANOW, &tio);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (!linkPath.empty()) {
        ::unlink(linkPath.c_str());
        if (::symlink(m_slave.c_str(), linkPath.c_str()) != 0) {
            error = "cannot make the link " + linkPath + ": " + std::strerror(errno);
            return false;
        }
        m_link = linkPath;
    }
    return true;
}

void CSimPty::Send(const std::vector<uint8_t>& bytes, int64_t startUs) {
    const int64_t byteUs = m_baud > 0 ? 10000000 / m_baud : 0;
    size_t sent = 0;
    while (sent < bytes.size()) {
        size_t due = bytes.size();
        if (byteUs) {
            const int64_t now = NowUs();
            due = std::min(bytes.size(), size_t(std::max<int64_t>(0, (now - startUs) / byteUs + 1)));
            if (due <= sent) {
                std::this_thread::sleep_for(std::chrono::microseconds(startUs + int64_t(sent) * byteUs - now));
                continue;
            }
        }
        ssize_t w = ::write(m_master, bytes.data() + sent, due - sent);
        if (w > 0) {
            sent += size_t(w);
        } else if (w < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 50);
        } else {
            return;
        }
    }
}

void CSimPty::Run(const std::atomic<bool>& stop) {
    const int64_t byteUs = m_baud > 0 ? 10000000 / m_baud : 0;
    uint8_t buf[512];
    std::vector<uint8_t> frame, reply;
    int64_t lineFreeUs = 0;  // when the request line has carried everything received so far
    int64_t lastByteUs = 0;
    while (!stop.load()) {
        pollfd p{m_master, POLLIN, 0};
        int pr = ::poll(&p, 1, 100);
        if (pr <= 0) {
            // A half frame from a program that went away would block the next one.
            if (m_asm.Pending() && NowUs() - lastByteUs > 500000) m_asm.Reset();
            continue;
        }
        ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        const int64_t now = NowUs();
        lastByteUs = now;
        // The bytes travel at line speed: they are all in only after n byte times.
        lineFreeUs = std::max(lineFreeUs, now) + int64_t(n) * byteUs;
        m_asm.Feed(buf, size_t(n));
        while (m_asm.Next(frame)) {
            ++m_frames;
            if (byteUs) {
                const int64_t wait = lineFreeUs - NowUs();
                if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
            }
            if (!m_line.HandleFrame(frame, NowUs() / 1000, reply)) continue;
            if (m_faults.DropReply()) continue;
            m_faults.Apply(reply);
            Send(reply, NowUs());
        }
    }
}
