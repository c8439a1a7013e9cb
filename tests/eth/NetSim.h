#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/IpAddress.h"

// varosim serving point B on the network in a child process; ready once it said so.
class NetSim {
public:
    NetSim(std::vector<std::string> args, std::string image) {
        const char* bin = std::getenv("VARO_BIN_DIR");
        std::string exe = std::string(bin ? bin : ".") + "/varosim";
        args.insert(args.begin(), exe);
        args.insert(args.end(), {"--image", image});
        int fds[2];
        if (pipe(fds) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        // The first line on stdout says it is serving.
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 10000) > 0) {
            char buf[256];
            m_ready = read(fds[0], buf, sizeof buf) > 0;
        }
        close(fds[0]);
    }
    ~NetSim() { Stop(); }
    void Stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGCONT);
            kill(m_pid, SIGTERM);
            int st;
            waitpid(m_pid, &st, 0);
            m_pid = -1;
        }
    }
    void Pause() { kill(m_pid, SIGSTOP); }
    bool Ready() const { return m_ready; }

    // A loopback address of its own for each simulated device of a test process.
    static uint32_t NextAddress() {
        static unsigned n = 0;
        ++n;
        return IpFromOctets(127, 60 + unsigned(getpid()) % 150, (n >> 8) & 0xFF, 1 + (n & 0x7F));
    }

private:
    pid_t m_pid = -1;
    bool m_ready = false;
};
