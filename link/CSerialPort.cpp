#include "link/CSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/ConfigStore.h"
#include "app/DebugLog.h"
#include "link/SerialPortList.h"

std::string ComPortPath(int number) {
    char key[16], def[32];
    std::snprintf(key, sizeof key, "COM%d", number);
    std::string path;
    if (AppStore().Lookup("Ports", key, path) && !path.empty()) return AppStore().ReadString("Ports", key, "");
    // No entry: the devices the machine has, in order; past them the classic names.
    const std::vector<std::string> present = PresentSerialDevices();
    if (number >= 1 && size_t(number) <= present.size()) return present[size_t(number - 1)];
    std::snprintf(def, sizeof def, "/dev/ttyS%d", number - 1);
    return def;
}

std::vector<RComPort> ComPortList() {
    std::vector<RComPort> list;
    for (int n = 1; n <= 8; ++n) list.push_back({"COM" + std::to_string(n), ComPortPath(n)});
    return list;
}

std::string ResolvePortTarget(const std::string& target) {
    if (target.size() > 3 && (target[0] == 'C' || target[0] == 'c') && (target[1] == 'O' || target[1] == 'o') &&
        (target[2] == 'M' || target[2] == 'm')) {
        bool digits = true;
        for (size_t i = 3; i < target.size(); ++i) digits = digits && std::isdigit((unsigned char)target[i]);
        if (digits && target.size() < 7) return ComPortPath(std::atoi(target.c_str() + 3));
    }
    return target;
}

CSerialPort::CSerialPort(const char* name) : m_name(name) {}

CSerialPort::~CSerialPort() {
    Close();
}

int64_t CSerialPort::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool CSerialPort::Open(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        NotePortOpen(path, error);
        if (error == EACCES || error == EPERM) DebugLog("%s: %s: %s", m_name, path.c_str(), PortPermissionHint(path).c_str());
        return false;
    }
    NotePortOpen(path, 0);
    termios tio;
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);  // a pty has no modem lines; nothing to do then
    tcflush(fd, TCIOFLUSH);
    m_cancelFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_cancelFd < 0) {
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_inPos = m_inLen = 0;
    return true;
}

void CSerialPort::Close() {
    if (m_fd >= 0) {
        // Leave the device openable for the next command or program.
        ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
    }
    m_inPos = m_inLen = 0;
    if (m_cancelFd >= 0) {
        ::close(m_cancelFd);
        m_cancelFd = -1;
    }
    ClearIo();
}

void CSerialPort::Cancel() {
    int fd = m_cancelFd;
    if (fd >= 0) {
        uint64_t one = 1;
        ssize_t r = ::write(fd, &one, sizeof one);
        (void)r;
    }
}

void CSerialPort::Dump(const char* what, const uint8_t* data, int count) {
    for (int i = 0; i < count; i += 16) {
        char line[16 * 3 + 1];
        int n = 0;
        for (int j = i; j < count && j < i + 16; ++j) n += std::snprintf(line + n, sizeof line - size_t(n), "%02X ", data[j]);
        line[n] = 0;
        DebugLog("%s::%s() [%s]", m_name, what, line);
    }
}

bool CSerialPort::PortWriteData(const uint8_t* data, int count) {
    m_ioStart = NowMs();
    m_ioKind = 2;
    if (m_dump) Dump("PortWriteData", data, count);
    const int perByte = m_scan ? 5 : 50;
    const int64_t deadline = NowMs() + int64_t(perByte) * count;
    int done = 0;
    while (m_fd >= 0 && done < count) {
        ssize_t w = ::write(m_fd, data + done, size_t(count - done));
        if (w > 0) {
            done += int(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) break;
        int64_t left = deadline - NowMs();
        if (left <= 0) break;
        pollfd p[2] = {{m_fd, POLLOUT, 0}, {m_cancelFd, POLLIN, 0}};
        int pr = ::poll(p, 2, int(left));
        if (pr < 0 && errno != EINTR) break;
        if (p[1].revents) break;
    }
    if (done != count) {
        DebugLog("%s::PortWriteData() = %d", m_name, 0);
        return false;
    }
    return true;
}

int CSerialPort::ReadOnce(uint8_t* data, int count) {
    const int interval = m_scan ? 5 : 10;
    const int perByte = m_scan ? 1 : 10;
    const int constant = m_scan ? 10 : 500;
    const int64_t deadline = NowMs() + constant + int64_t(perByte) * count;
    int got = 0;
    bool waited = false;
    while (got < count) {
        if (m_inPos < m_inLen) {
            const int take = std::min(count - got, m_inLen - m_inPos);
            std::memcpy(data + got, m_in + m_inPos, size_t(take));
            m_inPos += take;
            got += take;
            continue;
        }
        // Replies are rarely there the moment a read starts: wait first, then read.
        if (!waited) {
            waited = true;
        } else {
            ssize_t r = ::read(m_fd, m_in, sizeof m_in);
            if (r > 0) {
                m_inPos = 0;
                m_inLen = int(r);
                waited = false;
                continue;
            }
            if (r < 0 && errno != EAGAIN && errno != EINTR) return got ? got : -1;
        }
        int64_t now = NowMs();
        int64_t left = deadline - now;
        if (got > 0 && left > interval) left = interval;
        if (left <= 0) break;
        pollfd p[2] = {{m_fd, POLLIN, 0}, {m_cancelFd, POLLIN, 0}};
        int pr = ::poll(p, 2, int(left));
        if (pr < 0 && errno != EINTR) return -1;
        if (p[1].revents) return -1;
        if (pr == 0) break;
        if (p[0].revents & (POLLERR | POLLNVAL)) return -1;
        if ((p[0].revents & POLLHUP) && !(p[0].revents & POLLIN)) {
            // The far end of a pty went away: nothing more will come.
            break;
        }
    }
    return got;
}

bool CSerialPort::PortReadData(uint8_t* data, int count) {
    m_ioStart = NowMs();
    m_ioKind = 1;
    int got = 0;
    while (got < count) {
        if (m_fd < 0) return false;
        int r = ReadOnce(data + got, count - got);
        if (r < 0) return false;
        if (r == 0) {
            char first[8 * 3 + 1];
            int n = 0;
            for (int i = 0; i < got && i < 8; ++i) n += std::snprintf(first + n, sizeof first - size_t(n), "%02X ", data[i]);
            first[n] = 0;
            DebugLog("%s::PortReadData() %d bytes of %d [%s]", m_name, got, count, first);
            return false;
        }
        got += r;
    }
    if (m_dump) Dump("PortReadData", data, count);
    return true;
}
