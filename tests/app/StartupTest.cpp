#include "app/CMainApp.h"
#include "app/ProgramFolder.h"
#include "app/SingleInstance.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

TEST(Startup, FactorySwitchIsAPlainSubstring) {
    struct Case {
        std::vector<const char*> argv;
        bool expected;
    } cases[] = {
        {{"VaroConfig"}, false},
        {{"VaroConfig", "/factory_settings"}, true},
        {{"VaroConfig", "x/factory_settingsy"}, true},
        {{"VaroConfig", "--verbose", "abc/factory_settings123"}, true},
        {{"VaroConfig", "/factory", "_settings"}, false},
        {{"VaroConfig", "/Factory_Settings"}, false},
    };
    for (const auto& c : cases) {
        std::string line = CMainApp::CommandLine(int(c.argv.size()), const_cast<char**>(c.argv.data()));
        EXPECT_EQ(CMainApp::HasFactorySwitch(line), c.expected) << line;
    }
}

TEST(Startup, SecondHolderOfTheInstanceLockIsRefused) {
    TempDir dir;
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    CSingleInstance first;
    ASSERT_TRUE(first.Acquire("Varo_Config_test"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("Varo_Config_test.lock")));

    // Another process cannot take it while we hold it...
    pid_t pid = fork();
    if (pid == 0) {
        CSingleInstance second;
        _exit(second.Acquire("Varo_Config_test") ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // ...and can once it is released.
    first.Release();
    pid = fork();
    if (pid == 0) {
        CSingleInstance second;
        _exit(second.Acquire("Varo_Config_test") ? 0 : 1);
    }
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(Startup, ResolveDataPathFallsBackToCaseInsensitiveMatch) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("Data/Logos"));
    TempDir::WriteAll(dir.File("Data/Logos/Logo.BMP"), "x");
    std::string base = dir.Path() + "/";
    EXPECT_EQ(ResolveDataPath(base, "Data/Logos/Logo.BMP"), dir.File("Data/Logos/Logo.BMP"));
    EXPECT_EQ(ResolveDataPath(base, "data\\logos\\logo.bmp"), dir.File("Data/Logos/Logo.BMP"));
    EXPECT_EQ(ResolveDataPath(base, "/abs/file.bin"), "/abs/file.bin");
    EXPECT_EQ(ResolveDataPath(base, "C:\\abs\\file.bin"), "C:/abs/file.bin");
    // Missing: the plain joined path, so the caller's open fails with a clear name.
    EXPECT_EQ(ResolveDataPath(base, "data/none.bin"), base + "data/none.bin");
}
