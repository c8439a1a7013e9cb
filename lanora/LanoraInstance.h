#pragma once
#include <string>

// One running copy per user: an exclusive flock on a lock file named after the mutex, in
// $XDG_RUNTIME_DIR (else /tmp). Held until destroyed or the process ends.
class CLanoraInstance {
public:
    CLanoraInstance() = default;
    virtual ~CLanoraInstance();
    CLanoraInstance(const CLanoraInstance&) = delete;
    CLanoraInstance& operator=(const CLanoraInstance&) = delete;
    bool Acquire(const std::string& name = "LanoraSingleInstanceMutex");

private:
    int m_fd = -1;
};
