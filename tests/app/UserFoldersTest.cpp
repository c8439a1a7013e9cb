// Where the store and the log live: beside the program while its folder is the user's to
// write, in the user's XDG folders when an install marked it; the first write there starts
// from the program folder's store.
#include "app/ConfigStore.h"
#include "app/DebugLog.h"
#include "app/ProgramFolder.h"
#include "app/UserFolders.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {
struct FolderRig {
    TempDir dir;
    std::string program = dir.File("prog/");
    std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    FolderRig() {
        std::filesystem::create_directories(program);
        setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        setenv("XDG_STATE_HOME", dir.File("state").c_str(), 1);
        setenv("HOME", dir.File("home").c_str(), 1);
        SetProgramFolder(program);
    }
    ~FolderRig() {
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_STATE_HOME");
        setenv("HOME", home.c_str(), 1);
    }
    void MarkInstalled() { TempDir::WriteAll(program + kInstalledMarker, "installed\n"); }
};
}  // namespace

TEST(UserFolders, WritableProgramFolderKeepsEverything) {
    FolderRig r;
    EXPECT_EQ(StoreFolder(), r.program);
    EXPECT_EQ(LogFolder(), r.program);
    EXPECT_EQ(DocumentsFolder(), "");
}

TEST(UserFolders, InstalledProgramFolderSendsStoreAndLogToTheUser) {
    FolderRig r;
    r.MarkInstalled();
    EXPECT_EQ(StoreFolder(), r.dir.File("config/VaroConfig/"));
    EXPECT_EQ(LogFolder(), r.dir.File("state/VaroConfig/"));
    // Documents: ~/Documents when there is one, else home.
    EXPECT_EQ(DocumentsFolder(), r.dir.File("home/"));
    std::filesystem::create_directories(r.dir.File("home/Documents"));
    EXPECT_EQ(DocumentsFolder(), r.dir.File("home/Documents/"));
    // A relative XDG value does not count.
    setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(StoreFolder(), r.dir.File("home/.config/VaroConfig/"));
}

TEST(UserFolders, FirstWriteStartsFromTheProgramFoldersStore) {
    FolderRig r;
    TempDir::WriteAll(r.program + "VaroConfig.ini", "[Main]\nInterface=1\nIP=1234\n");
    r.MarkInstalled();
    CConfigStore store(StoreFolder() + "VaroConfig.ini");
    store.SetSeed(r.program + "VaroConfig.ini");
    // Reads come from the old store until the user's exists.
    EXPECT_EQ(store.ReadInt("Main", "Interface", -1), 1);
    ASSERT_TRUE(store.WriteInt("Main", "Port", 3));  // makes the folders too
    EXPECT_EQ(store.ReadInt("Main", "Interface", -1), 1);
    EXPECT_EQ(store.ReadInt("Main", "IP", -1), 1234);
    EXPECT_EQ(store.ReadInt("Main", "Port", -1), 3);
    // The old store is left as it was; later writes no longer look at it.
    EXPECT_EQ(TempDir::ReadAll(r.program + "VaroConfig.ini"), "[Main]\nInterface=1\nIP=1234\n");
    TempDir::WriteAll(r.program + "VaroConfig.ini", "[Main]\nInterface=4\n");
    EXPECT_EQ(store.ReadInt("Main", "Interface", -1), 1);
}

TEST(UserFolders, LogOfAnInstalledProgramGoesToTheStateFolder) {
    FolderRig r;
    r.MarkInstalled();
    SetProgramFileStem("VaroConfig");
    AppStore().SetPath(r.dir.File("store.ini"));
    AppStore().WriteInt("Debug", "Log", 1);
    DebugLogReset();
    DebugLog("hello from %s", "the test");
    const std::string log = TempDir::ReadAll(r.dir.File("state/VaroConfig/VaroConfig.log"));
    EXPECT_NE(log.find("hello from the test"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(r.program + "VaroConfig.log"));
    AppStore().WriteInt("Debug", "Log", 0);
    DebugLogReset();
}
