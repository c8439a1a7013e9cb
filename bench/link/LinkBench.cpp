// Link throughput against varosim, as ratios against baselines measured in the same run:
//  1. paced at 38400 baud: RS-422 write of 64 KiB against the protocol's own limit at that
//     rate (240 data bytes per 251-byte request and 11-byte reply: 240 / 262 * 3840 B/s);
//  2. unpaced: point-B exchanges per second (251-byte request, 11-byte reply) against a plain
//     pty ping-pong of the same frame sizes.
// Usage: link_bench [--quick]   (--quick skips the paced runs, which take ~20 s each)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/CFrameLink.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/CSerialPort.h"

namespace {
using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

std::string g_tmp;

struct Sim {
    pid_t pid = -1;
    std::string path;
    Sim(const std::string& name, std::vector<std::string> extra) {
        const char* env = std::getenv("VARO_BIN_DIR");
        std::string exe = std::string(env ? env : VARO_BIN_DIR_DEFAULT) + "/varosim";
        path = g_tmp + "/" + name;
        std::vector<std::string> args = {exe, "--pty", path, "--image", path + ".img"};
        args.insert(args.end(), extra.begin(), extra.end());
        pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        struct stat st;
        for (int i = 0; i < 500 && stat(path.c_str(), &st) != 0; ++i) usleep(10000);
    }
    ~Sim() {
        kill(pid, SIGTERM);
        int s;
        waitpid(pid, &s, 0);
    }
};

bool ReadAll(int fd, uint8_t* b, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = read(fd, b + got, n - got);
        if (r > 0) {
            got += size_t(r);
        } else if (r < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Plain pty ping-pong: the far side answers every 251-byte request with 11 bytes.
double PingPong(int exchanges) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    std::thread peer([&] {
        uint8_t req[251], rep[11] = {0xE2, 0xE4};
        for (int i = 0; i < exchanges; ++i) {
            if (!ReadAll(master, req, sizeof req)) return;
            if (write(master, rep, sizeof rep) != 11) return;
        }
    });
    uint8_t req[251] = {0xE2, 0xE4}, rep[11];
    const auto t0 = Clock::now();
    for (int i = 0; i < exchanges; ++i) {
        if (write(slave, req, sizeof req) != 251 || !ReadAll(slave, rep, sizeof rep)) break;
    }
    const double s = Seconds(t0);
    peer.join();
    close(slave);
    close(master);
    return exchanges / s;
}

// The same exchange through the link: 240-byte direct-region writes on point B.
double LinkExchanges(int exchanges) {
    Sim sim("xchg", {});
    CSerialPort port("CSerial232B");
    if (!port.Open(sim.path)) return 0;
    CFrameLink f(LinkDialect::PointB, &port);
    f.Begin(0x00);
    const uint32_t a = 0xF0000000;
    std::memcpy(f.ReqData(), &a, 4);
    if (f.PointBTransaction(4, 0, 9) != 0) return 0;
    const auto t0 = Clock::now();
    for (int i = 0; i < exchanges; ++i) {
        if (i % 256 == 0) {  // stay inside the 64 KiB direct region
            f.Begin(0x00);
            std::memcpy(f.ReqData(), &a, 4);
            f.PointBTransaction(4, 0, 9);
        }
        f.Begin(0x04);
        std::memset(f.ReqData(), i & 0xFF, 240);
        if (f.PointBTransaction(240, 0, 1) != 0) return 0;
    }
    return exchanges / Seconds(t0);
}

double EngineWrite(const std::string& chip, int baud, uint32_t bytes) {
    Sim sim("w-" + chip + "-" + std::to_string(baud), {"--chip", chip, "--baud", std::to_string(baud)});
    CLinkWaiter waiter;
    CSerial engine;
    engine.SelectLinkPath(0, kProtoPointB, &waiter, sim.path, -1, 0);
    std::vector<uint8_t> data(bytes);
    std::mt19937 rng(1);
    for (auto& b : data) b = uint8_t(rng());
    const auto t0 = Clock::now();
    engine.StartCommand(int(bytes), kCmdEraseWrite, 0, data.data());
    const int r = waiter.Wait(&engine, 300000).result;
    const double s = Seconds(t0);
    if (r != 0) {
        std::printf("  write failed with %d\n", r);
        return 0;
    }
    return bytes / s;
}
}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    char tmpl[] = "/tmp/link-bench-XXXXXX";
    g_tmp = mkdtemp(tmpl);

    // Alternating rounds, medians: the machine is shared, single runs are noisy.
    const int n = 2000, rounds = 7;
    std::vector<double> bases, links, ratios;
    for (int i = 0; i < rounds; ++i) {
        bases.push_back(PingPong(n));
        links.push_back(LinkExchanges(n));
        ratios.push_back(links.back() / bases.back());
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("unpaced exchanges/s (median of %d rounds): pty ping-pong %.0f, point-B link to varosim %.0f, "
                "ratio %.3f (goal >= 0.8)\n",
                rounds, median(bases), median(links), median(ratios));
    const double fast = EngineWrite("S25FL016K", 0, 65536);
    std::printf("unpaced 64 KiB RS-422 write (S25FL016K): %.0f B/s\n", fast);

    if (!quick) {
        const double limit = 240.0 / 262.0 * 3840.0;
        for (const char* chip : {"S25FL016K", "AT45DB642D"}) {
            const double paced = EngineWrite(chip, 38400, 65536);
            std::printf("paced 38400 baud, 64 KiB RS-422 write (%s): %.0f B/s, limit %.0f B/s, ratio %.3f (goal >= 0.9)\n",
                        chip, paced, limit, paced / limit);
        }
    }
    std::string cmd = "rm -rf " + g_tmp;
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}
