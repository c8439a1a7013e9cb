#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

// Starts one outside program (from the folder of the running program when it is there, else
// from PATH), optionally with its standard output captured in a temporary file.
class CAppLaunch {
public:
    CAppLaunch() = default;
    // Waits 0 ms; a program still running then gets a short grace period, is stopped and reaped,
    // so no process outlives its launcher. Deletes the capture file.
    virtual ~CAppLaunch();
    CAppLaunch(const CAppLaunch&) = delete;
    CAppLaunch& operator=(const CAppLaunch&) = delete;

    bool Start(const std::string& program, const std::vector<std::string>& args, bool capture);
    // True when the program has ended within `ms` (negative: no limit); records its exit code.
    bool Wait(int ms);
    // Gives the program `graceMs` to end, then kills it; always reaps it.
    void Stop(int graceMs);
    bool Running() const { return m_running; }
    int ExitCode() const { return m_exitCode; }
    const std::string& CapturePath() const { return m_tempPath; }

    // The path to run for a program name: the program folder's copy, else the bare name.
    static std::string Resolve(const std::string& program);

private:
    bool m_running = false;
    int m_outFd = -1;
    bool m_capture = false;
    std::string m_tempPath;
    pid_t m_pid = -1;
    int m_exitCode = -1;
};
