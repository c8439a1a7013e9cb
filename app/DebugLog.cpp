#include "DebugLog.h"
#include "UserFolders.h"

#include "ConfigStore.h"
#include "ProgramFolder.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace {
std::mutex g_initMutex;
std::atomic<int> g_state{0};  // 0 not read yet, 1 off, 2 on
std::string g_path;

bool Init() {
    int s = g_state.load(std::memory_order_acquire);
    if (s != 0) return s == 2;
    std::lock_guard<std::mutex> lock(g_initMutex);
    s = g_state.load(std::memory_order_relaxed);
    if (s == 0) {
        bool on = AppStore().ReadInt("Debug", "Log", 0) != 0;
        if (on) {
            g_path = LogFolder() + ProgramFileStem() + ".log";
            MakeFolders(LogFolder());
        }
        s = on ? 2 : 1;
        g_state.store(s, std::memory_order_release);
    }
    return s == 2;
}
}  // namespace

bool DebugLogEnabled() { return Init(); }

void DebugLogReset() {
    std::lock_guard<std::mutex> lock(g_initMutex);
    g_state.store(0);
    g_path.clear();
}

void DebugLog(const char* format, ...) {
    if (!Init()) return;

    timeval tv;
    gettimeofday(&tv, nullptr);
    tm lt;
    localtime_r(&tv.tv_sec, &lt);

    // Prefix (26 chars), a message of at most 255 characters, and the line end, in one write.
    char line[26 + 256 + 2];
    int n = std::snprintf(line, sizeof line, "%02d.%02d.%04d %02d:%02d:%02d.%03d - ", lt.tm_mday, lt.tm_mon + 1,
                          lt.tm_year + 1900, lt.tm_hour, lt.tm_min, lt.tm_sec, int(tv.tv_usec / 1000));
    if (n < 0) return;
    size_t len = size_t(n);
    char msg[256];
    va_list ap;
    va_start(ap, format);
    int m = std::vsnprintf(msg, sizeof msg, format, ap);
    va_end(ap);
    if (m < 0) return;
    size_t mlen = size_t(m) < sizeof msg ? size_t(m) : sizeof msg - 1;
    std::memcpy(line + len, msg, mlen);
    len += mlen;
    line[len++] = '\n';

    int fd = ::open(g_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;  // a trace never fails visibly
    ssize_t w;
    do {
        w = ::write(fd, line, len);
    } while (w < 0 && errno == EINTR);
    ::close(fd);
}
