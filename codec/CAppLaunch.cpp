#include "codec/CAppLaunch.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
std::string HostFolder() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string exe(buf, size_t(n));
    return exe.substr(0, exe.rfind('/') + 1);
}
}  // namespace

std::string CAppLaunch::Resolve(const std::string& program) {
    std::string local = HostFolder() + program;
    return access(local.c_str(), X_OK) == 0 ? local : program;
}

bool CAppLaunch::Start(const std::string& program, const std::vector<std::string>& args, bool capture) {
    if (m_running) return false;
    m_capture = capture;
    if (capture) {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tmpXXXXXX";
        m_outFd = mkostemp(tmpl.data(), O_CLOEXEC);
        if (m_outFd < 0) return false;
        m_tempPath = tmpl;
    }
    std::string path = Resolve(program);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (capture)
        posix_spawn_file_actions_adddup2(&fa, m_outFd, 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, path.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return false;
    m_pid = pid;
    m_running = true;
    return true;
}

bool CAppLaunch::Wait(int ms) {
    if (!m_running) return m_pid > 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(m_pid, &status, ms < 0 ? 0 : WNOHANG);
        if (r == m_pid) {
            m_running = false;
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            return true;
        }
        if (r < 0 && errno != EINTR) {  // not our child any more
            m_running = false;
            return true;
        }
        if (ms >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
        if (ms >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void CAppLaunch::Stop(int graceMs) {
    if (m_running && !Wait(graceMs)) {
        kill(m_pid, SIGKILL);
        Wait(-1);
    }
}

CAppLaunch::~CAppLaunch() {
    if (m_running && !Wait(0) && !Wait(500)) {
        kill(m_pid, SIGTERM);
        if (!Wait(1000)) {
            kill(m_pid, SIGKILL);
            Wait(-1);
        }
    }
    if (m_outFd >= 0) close(m_outFd);
    if (!m_tempPath.empty()) unlink(m_tempPath.c_str());
}
