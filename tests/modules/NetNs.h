#pragma once
// Two private network namespaces joined by a veth pair, made by the test and removed afterwards.
// Side 0 gets 198.18.0.1/24, side 1 gets 198.18.0.2/24. Broadcasts stay inside.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

class CNetNsPair {
public:
    CNetNsPair() {
        static std::atomic<int> counter{0};
        std::string tag = "vmod" + std::to_string(::getpid()) + "x" + std::to_string(counter++) + "x" +
                          std::to_string(std::rand() % 100000);
        m_ns[0] = tag + "a";
        m_ns[1] = tag + "b";
        if (::geteuid() != 0) {
            m_error = "network namespaces need root";
            return;
        }
        bool ok = Run("ip netns add " + m_ns[0]) && Run("ip netns add " + m_ns[1]);
        m_created = true;
        ok = ok && Run("ip link add vethA netns " + m_ns[0] + " type veth peer name vethB netns " + m_ns[1]);
        for (int i = 0; ok && i < 2; ++i) {
            std::string dev = i == 0 ? "vethA" : "vethB";
            ok = Run("ip -n " + m_ns[i] + " link set lo up") &&
                 Run("ip -n " + m_ns[i] + " addr add 198.18.0." + std::to_string(i + 1) + "/24 dev " + dev) &&
                 Run("ip -n " + m_ns[i] + " link set " + dev + " up");
        }
        if (!ok) m_error = "cannot create network namespaces (ip netns / veth failed)";
        // The kernel turns a new link's carrier on (and its queue from "noop" to a real one)
        // only when its link watch runs, which is rate-limited: until then every packet is
        // dropped. Wait for both ends.
        for (int i = 0; ok && i < 2; ++i) ok = WaitUp(i);
        if (!ok && m_error.empty()) m_error = "veth pair did not come up";
    }
    ~CNetNsPair() {
        if (!m_created) return;
        Run("ip netns del " + m_ns[0]);
        Run("ip netns del " + m_ns[1]);
    }
    CNetNsPair(const CNetNsPair&) = delete;
    CNetNsPair& operator=(const CNetNsPair&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    const std::string& Name(int side) const { return m_ns[side]; }
    // Another address on a side's veth, e.g. "198.18.0.3/24".
    bool AddAddress(int side, const std::string& cidr) {
        return Run("ip -n " + m_ns[side] + " addr add " + cidr + " dev " + (side == 0 ? "vethA" : "vethB"));
    }

    bool WaitUp(int side) const {
        std::string cmd = "ip -n " + m_ns[side] + " link show dev " + (side == 0 ? "vethA" : "vethB");
        for (int tries = 0; tries < 300; ++tries) {
            std::string out;
            if (FILE* f = ::popen(cmd.c_str(), "r")) {
                char buf[512];
                while (std::fgets(buf, sizeof buf, f)) out += buf;
                ::pclose(f);
            }
            if (out.find("state UP") != std::string::npos && out.find("qdisc noop") == std::string::npos)
                return true;
            ::usleep(10000);
        }
        return false;
    }

    static bool Run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

private:
    std::string m_ns[2];
    std::string m_error;
    bool m_created = false;
};

// Moves the calling thread into a namespace until destroyed. Threads it starts meanwhile stay
// there for good, which is how responders and listeners end up on the right side.
class CNetNsEnter {
public:
    explicit CNetNsEnter(const std::string& ns) {
        m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        int fd = ::open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        m_ok = m_home >= 0 && fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) ::close(fd);
    }
    ~CNetNsEnter() {
        if (m_home >= 0) {
            if (m_ok) ::setns(m_home, CLONE_NEWNET);
            ::close(m_home);
        }
    }
    CNetNsEnter(const CNetNsEnter&) = delete;
    CNetNsEnter& operator=(const CNetNsEnter&) = delete;
    bool Ok() const { return m_ok; }

private:
    int m_home = -1;
    bool m_ok = false;
};
