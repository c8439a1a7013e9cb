#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/ConfigStore.h"
#include "app/DebugLog.h"
#include "app/ProgramFolder.h"
#include "common/TempDir.h"
#include "link/PortIO.h"

// Points the store and the debug log into a test folder, log on (and byte dumps when asked).
class LinkLogSetup {
public:
    explicit LinkLogSetup(const TempDir& dir, bool dumps = false) {
        SetProgramFolder(dir.Path() + "/");
        SetProgramFileStem("linktest");
        AppStore().SetPath(dir.File("VaroConfig.ini"));
        AppStore().WriteInt("Debug", "Log", 1);
        AppStore().WriteInt("Debug", "Serial", dumps ? 1 : 0);
        DebugLogReset();
        m_log = dir.File("linktest.log");
    }
    ~LinkLogSetup() {
        AppStore().WriteInt("Debug", "Log", 0);
        DebugLogReset();
    }
    std::string Log() const { return TempDir::ReadAll(m_log); }
    size_t Count(const std::string& text) const {
        const std::string log = Log();
        size_t n = 0;
        for (size_t p = log.find(text); p != std::string::npos; p = log.find(text, p + 1)) ++n;
        return n;
    }
    void Clear() const { TempDir::WriteAll(m_log, ""); }

private:
    std::string m_log;
};

// A scripted byte transport: records what is written, hands out queued reply bytes.
class ScriptPort : public IPortIO {
public:
    std::vector<std::vector<uint8_t>> writes;
    std::deque<uint8_t> input;
    // Called after every write; may queue the answer.
    std::function<void(const std::vector<uint8_t>&, ScriptPort&)> onWrite;

    bool PortWriteData(const uint8_t* d, int n) override {
        writes.emplace_back(d, d + n);
        if (onWrite) onWrite(writes.back(), *this);
        return true;
    }
    bool PortReadData(uint8_t* d, int n) override {
        if (int(input.size()) < n) {
            input.clear();
            return false;
        }
        for (int i = 0; i < n; ++i) {
            d[i] = input.front();
            input.pop_front();
        }
        return true;
    }
    void Queue(const std::vector<uint8_t>& b) { input.insert(input.end(), b.begin(), b.end()); }
};

// varosim in a child process, its pty linked at Path().
class SimProcess {
public:
    SimProcess(const TempDir& dir, std::vector<std::string> args, const std::string& name = "dev") {
        m_path = dir.File(name);
        m_image = dir.File(name + ".img");
        const char* bin = std::getenv("VARO_BIN_DIR");
        std::string exe = std::string(bin ? bin : ".") + "/varosim";
        args.insert(args.begin(), {exe, "--pty", m_path});
        bool hasImage = false;
        for (auto& a : args) hasImage = hasImage || a == "--image";
        if (!hasImage) args.insert(args.end(), {"--image", m_image});
        m_pid = fork();
        if (m_pid == 0) {
            int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        for (int i = 0; i < 500 && !Ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~SimProcess() { Stop(); }
    void Stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int st;
            waitpid(m_pid, &st, 0);
            m_pid = -1;
        }
    }
    // A device that falls silent without its line going away.
    void Pause() { kill(m_pid, SIGSTOP); }
    void Resume() { kill(m_pid, SIGCONT); }
    bool Ready() const {
        struct stat st;
        return ::stat(m_path.c_str(), &st) == 0;
    }
    const std::string& Path() const { return m_path; }
    const std::string& Image() const { return m_image; }

private:
    pid_t m_pid = -1;
    std::string m_path, m_image;
};
