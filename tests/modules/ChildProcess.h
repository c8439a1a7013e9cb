#pragma once
// A child program with its standard output on a pipe, read line by line with a time limit.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

class CChildProcess {
public:
    explicit CChildProcess(const std::vector<std::string>& argv) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> a;
            for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
            a.push_back(nullptr);
            ::execvp(a[0], a.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~CChildProcess() {
        Stop();
        if (m_out >= 0) ::close(m_out);
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    // The next line (without '\n'); false when none came within ms.
    bool ReadLine(std::string& line, int ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            auto nl = m_buf.find('\n');
            if (nl != std::string::npos) {
                line = m_buf.substr(0, nl);
                m_buf.erase(0, nl + 1);
                return true;
            }
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                  std::chrono::steady_clock::now())
                               .count());
            if (left <= 0 || m_out < 0) return false;
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) return false;
            char b[512];
            ssize_t n = ::read(m_out, b, sizeof b);
            if (n <= 0) return false;
            m_buf.append(b, size_t(n));
        }
    }
    // Waits for a line that contains text.
    bool WaitFor(const std::string& text, int ms, std::string* found = nullptr) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::string line;
        while (ReadLine(line, int(std::max<long long>(
                                  1, std::chrono::duration_cast<std::chrono::milliseconds>(
                                         deadline - std::chrono::steady_clock::now())
                                         .count())))) {
            if (line.find(text) != std::string::npos) {
                if (found) *found = line;
                return true;
            }
        }
        return false;
    }
    // SIGTERM and wait; the exit status (-1 if it was not running).
    int Stop() {
        if (m_pid <= 0) return -1;
        ::kill(m_pid, SIGTERM);
        return Wait();
    }
    int Wait() {
        if (m_pid <= 0) return -1;
        int st = 0;
        ::waitpid(m_pid, &st, 0);
        m_pid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    // Everything still to come on the output, until the child closes it.
    std::string ReadRest(int ms) {
        std::string all, line;
        while (ReadLine(line, ms)) all += line + "\n";
        return all + m_buf;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buf;
};
