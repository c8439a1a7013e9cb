#include "lanora/LanoraInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

CLanoraInstance::~CLanoraInstance() {
    if (m_fd >= 0) ::close(m_fd);
}

bool CLanoraInstance::Acquire(const std::string& name) {
    if (m_fd >= 0) return true;
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/" + name + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}
