#pragma once
// Runs one of our programs as a test's child process and collects how it ended.
#include "common/TempDir.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

struct RProgramOutcome {
    int code = -1;  // exit status, -1 when it did not exit normally
    std::string out, err;
};

// The program's path in the program folder the tests were given (VARO_BIN_DIR).
inline std::string BuiltProgram(const std::string& name) {
    const char* bin = std::getenv("VARO_BIN_DIR");
    return std::string(bin ? bin : ".") + "/" + name;
}

// exe with args; stdout and stderr go through files in dir.
inline RProgramOutcome RunProgram(const TempDir& dir, const std::string& exe, std::vector<std::string> args) {
    args.insert(args.begin(), exe);
    const std::string out = dir.File("run-out.txt"), err = dir.File("run-err.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, TempDir::ReadAll(out), TempDir::ReadAll(err)};
}
