// varosim started with each sample model answers the signature its file name says, and holds
// the records the model describes, read back over the link with varoctl.
#include "common/TempDir.h"
#include "model/CPnPSettings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {
std::string BinDir() {
    const char* d = std::getenv("VARO_BIN_DIR");
    return d ? d : "";
}

// One varosim process, ended by its own pid.
class Simulator {
public:
    Simulator(const std::vector<std::string>& args, const std::string& ptyLink) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        struct stat st;
        for (int i = 0; i < 100 && m_pid > 0 && ::lstat(ptyLink.c_str(), &st) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Simulator() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status;
            ::waitpid(m_pid, &status, 0);
        }
    }
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

// Runs varoctl; returns its exit code and its standard output.
int Varoctl(const std::string& args, const TempDir& dir, std::string& out) {
    std::string file = dir.File("varoctl.out");
    int rc = std::system(("\"" + BinDir() + "/varoctl\" " + args + " > \"" + file + "\" 2>/dev/null").c_str());
    out = TempDir::ReadAll(file);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

struct ModelCase {
    const char* file;
    const char* dialect;  // what the simulated device speaks
    const char* link;     // varoctl link kind
    const char* signature;
    const char* recordAddress;  // a record the model puts into memory
    int recordSize;
};
}  // namespace

TEST(SimModelEndToEnd, SignatureAndRecordsOverTheLink) {
    const ModelCase cases[] = {
        {"ModelsPnP/HD-OVL.xml", "pointb", "rs422", "HD-OVL", "0x1000", 64},
        {"ModelsPnP/SD-OVL.xml", "short2", "rs232", "SD-OVL", "0x1F0028", 5},
        {"ModelsOld/VOL-100.xml", "short1", "rs232p1", "", nullptr, 0},
        {"ModelsOld/VOL-200.xml", "short1", "rs232p1", "", "0x0F0000", 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir dir;
        const std::string pty = dir.File("tty");
        Simulator sim({BinDir() + "/varosim", "--pty", pty, "--image", dir.File("mem.img"), "--dialect", c.dialect,
                       "--model", BinDir() + "/" + c.file},
                      pty);
        ASSERT_TRUE(sim.Running());
        std::string out;
        ASSERT_EQ(Varoctl(std::string("--link ") + c.link + ":" + pty + " signature", dir, out), 0);
        EXPECT_EQ(out, std::string(c.signature) + "\n");
        if (!c.recordAddress) continue;
        const std::string rec = dir.File("rec.bin");
        ASSERT_EQ(Varoctl(std::string("--link ") + c.link + ":" + pty + " read " + c.recordAddress + " " +
                              std::to_string(c.recordSize) + " " + rec,
                          dir, out),
                  0);
        std::string bytes = TempDir::ReadAll(rec);
        ASSERT_EQ(bytes.size(), size_t(c.recordSize));
        std::vector<uint8_t> b(bytes.begin(), bytes.end());
        if (c.recordSize == 5) {
            EXPECT_EQ(b, (std::vector<uint8_t>{5, 0, 255, 1, 1}));  // register: value and limits
        } else {
            EXPECT_TRUE(PnPBlockSealOk(b));  // a sealed settings record
        }
    }
}
