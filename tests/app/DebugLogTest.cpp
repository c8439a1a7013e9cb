#include "app/ConfigStore.h"
#include "app/DebugLog.h"
#include "app/ProgramFolder.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace {
// Points the program folder and the store into a private folder for one test.
struct LogFixture : ::testing::Test {
    TempDir dir;
    std::string savedStore;
    void SetUp() override {
        savedStore = AppStore().Path();
        SetProgramFolder(dir.Path());
        SetProgramFileStem("VaroConfig");
        AppStore().SetPath(dir.File("VaroConfig.ini"));
        DebugLogReset();
    }
    void TearDown() override {
        AppStore().SetPath(savedStore);
        DebugLogReset();
    }
    std::string LogPath() const { return dir.File("VaroConfig.log"); }
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        std::istringstream in(TempDir::ReadAll(LogPath()));
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }
};
const std::regex kPrefix(R"(^\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2}\.\d{3} - )");
}  // namespace

TEST_F(LogFixture, OffMeansNoFileAndTheKeyIsReadOnce) {
    DebugLog("nothing %d", 1);
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
    // Switching it on while running changes nothing until the next start.
    AppStore().WriteInt("Debug", "Log", 1);
    DebugLog("still nothing");
    EXPECT_FALSE(std::filesystem::exists(LogPath()));
    DebugLogReset();  // the next run
    DebugLog("now %s", "on");
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_search(lines[0], kPrefix)) << lines[0];
    EXPECT_EQ(lines[0].substr(26), "now on");
}

TEST_F(LogFixture, RunsAppendAndLongMessagesAreCut) {
    AppStore().WriteInt("Debug", "Log", 1);
    DebugLog("first run");
    DebugLogReset();
    DebugLog("second run");
    std::string longText(400, 'x');
    DebugLog("%s", longText.c_str());
    auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(26), "first run");
    EXPECT_EQ(lines[1].substr(26), "second run");
    EXPECT_EQ(lines[2].substr(26), std::string(255, 'x'));
}

TEST_F(LogFixture, ConcurrentWritersNeverLoseOrInterleaveLines) {
    AppStore().WriteInt("Debug", "Log", 1);
    constexpr int kThreads = 8, kLines = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) DebugLog("thread %d line %04d %s", t, i, "payload-payload-payload");
        });
    }
    for (auto& th : threads) th.join();

    auto lines = Lines();
    ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
    std::set<std::string> seen;
    std::regex body(R"(^thread (\d) line (\d{4}) payload-payload-payload$)");
    for (const auto& l : lines) {
        ASSERT_TRUE(std::regex_search(l, kPrefix)) << l;
        ASSERT_TRUE(std::regex_match(l.substr(26), body)) << l;
        seen.insert(l.substr(26));
    }
    EXPECT_EQ(seen.size(), size_t(kThreads * kLines));
}
