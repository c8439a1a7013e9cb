#pragma once
#include <string>

// The single-instance mutex: an exclusive flock on a lock file named after the mutex in
// $XDG_RUNTIME_DIR (else /tmp). Held until the object is destroyed or the process ends.
class CSingleInstance {
public:
    CSingleInstance() = default;
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // False when another process holds it (or the lock file cannot be made).
    bool Acquire(const std::string& name);
    void Release();
    static std::string LockPath(const std::string& name);

private:
    int m_fd = -1;
};
