#include "devicedata/COperations.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
struct FakeEngine : IDeviceEngine {
    int errKind = 0;
    uint32_t errAddress = 0, cmdAddress = 0;
    int command = 3, protocol = 6;
    bool watchdogFires = false;
    std::vector<int> started;
    void StartCommand(int, int cmd, uint32_t address, uint8_t*) override {
        started.push_back(cmd);
        command = cmd;
        cmdAddress = address;
    }
    int ErrorKind() const override { return errKind; }
    uint32_t ErrorAddress() const override { return errAddress; }
    uint32_t CommandAddress() const override { return cmdAddress; }
    int CurrentCommand() const override { return command; }
    int Protocol() const override { return protocol; }
    bool Watchdog() override { return watchdogFires; }
};

struct FakeUi : IOperationUi {
    bool busy = false, line = false, timer = false;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answer = false;
    void OperationStateChanged(bool b) override { busy = b; }
    void ShowProgressLine(bool v) override { line = v; }
    void ProgressChanged() override {}
    void ShowMessage(const std::string& t, MsgIcon) override { messages.push_back(t); }
    bool AskYesNo(const std::string& t, MsgIcon, bool defaultNo) override {
        EXPECT_TRUE(defaultNo);
        questions.push_back(t);
        return answer;
    }
    void SetTimer(bool r) override { timer = r; }
};

struct Ops : ::testing::Test {
    FakeEngine engine;
    FakeUi ui;
    int64_t now = 1000;
    COperations ops{engine, ui, [this] { return now; }};
};
}  // namespace

TEST_F(Ops, BeginDisablesAndEndRestores) {
    ops.Begin(kOpSlotRead, 100);
    EXPECT_TRUE(ui.busy);
    EXPECT_TRUE(ui.line);
    EXPECT_TRUE(ui.timer);
    ops.Completed(0, 0);  // no step registered: the operation just ends
    EXPECT_FALSE(ops.Busy());
    EXPECT_FALSE(ui.busy);
    EXPECT_FALSE(ui.line);
    EXPECT_FALSE(ui.timer);
}

TEST_F(Ops, ProgressTextAndAbortRequest) {
    engine.cmdAddress = 0x00123400;
    ops.Begin(kOpSlotRead, 200);
    EXPECT_EQ(ops.Display().activityText, "Reading @00123400");
    EXPECT_EQ(ops.Display().percentText, "0 %");
    now += 3723 * 1000;
    EXPECT_EQ(ops.Progress(50), 0);
    EXPECT_EQ(ops.Display().percentText, "25 %");
    EXPECT_EQ(ops.Display().elapsedText, "1:02:03");
    engine.command = 6;
    ops.RequestStop();
    EXPECT_EQ(ops.Progress(60), 1);
    EXPECT_EQ(ops.Display().activityText, "Erasing @00123400");
    ops.Completed(6, 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "Operation aborted.");
    EXPECT_FALSE(ops.AbortRequested());
}

TEST_F(Ops, ZeroTotalKeepsPlaceholderAndGivenAddressWins) {
    ops.Begin(kOpClock, 0);
    ops.Progress(10);
    EXPECT_EQ(ops.Display().activityText, "xxx");
    ops.End();
    engine.command = 5;
    ops.Begin(kOpSlotWrite, 10, 0x80FFFFFF);
    EXPECT_EQ(ops.Display().activityText, "Writing @80FFFFFF");
}

TEST_F(Ops, ProgressScalingByKind) {
    struct Case {
        int kind, step, c1, c2, done, value, expected;
    } cases[] = {
        {kOpBankRead, 2, 0, 0, 0, 5, 5 + 2 * 0x20000},
        {kOpBankRead, 1000, 0, 0, 0, 5, 0},
        {kOpSettingsPage, 7, 0, 0, 0, 99, 7},
        {kOpSlotBlockWrite, 0, 0, 0, 0, 32, 0x10020},
        {kOpFactory, 3, 2, 1000, 0, 500, 3 * 100000 - 2 * 90000 - 100000 + 50000},
        {kOpFactory, 3, 2, 0, 0, 500, 3 * 100000 - 2 * 90000 - 100000},
        {kOpProfileSave, 515, 0, 1024, 0, 512, 128 + 512},
        {kOpProfileSave, 3, 0, 1024, 1000, 1000, 255},
        {kOpProfileSave, 3, 0, 200, 0, 100, 0},
        {kOpMultiscreenWrite, 0, 4096, 0, 0, 10, 4106},
        {kOpSlotRead, 9, 9, 9, 0, 77, 77},
    };
    for (const auto& c : cases) {
        ops.Begin(c.kind, 100);
        ops.step = c.step;
        ops.counter1 = c.c1;
        ops.counter2 = c.c2;
        ops.profileDone = c.done;
        EXPECT_EQ(ops.ScaleProgress(c.value), c.expected) << "kind " << c.kind;
        ops.End();
    }
}

TEST_F(Ops, StepsChainCommandsUntilTheyEnd) {
    ops.SetStep(kOpSettingsPage, [&](int) {
        if (++ops.step < 3) {
            engine.StartCommand(4, 3, 0, nullptr);
            return true;
        }
        return false;
    });
    ops.Begin(kOpSettingsPage, 3);
    ops.Completed(0, 0);
    ops.Completed(0, 0);
    EXPECT_TRUE(ops.Busy());
    ops.Completed(0, 0);
    EXPECT_FALSE(ops.Busy());
    EXPECT_EQ(engine.started.size(), 2u);
    // A completion that arrives after the end changes nothing.
    ops.Completed(3, 0);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(Ops, LinkErrorsAndSilentEthernet) {
    for (int r = 1; r <= 8; ++r) {
        if (r == 6) continue;
        ui.messages.clear();
        ops.Begin(kOpSlotRead, 10);
        ops.Completed(r, 0);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].rfind(r == 5 ? "Device hardware failure" : r == 7 ? "No compatible" : r == 8 ? "Flash chip" : "Device link error", 0), 0u)
            << r;
    }
    bool silent = true;
    ops.SetSilentFailures([&] { return silent; });
    ui.messages.clear();
    ops.Begin(kOpSignature, 32);
    ops.Completed(3, 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(ops.Busy());
}

TEST_F(Ops, BlockPromptYesContinuesNoEnds) {
    int stepRuns = 0;
    ops.SetStep(kOpFactory, [&](int) {
        ++stepRuns;
        return false;
    });
    ops.SetBlockAddress([] { return 0x00230000u; });

    // Error kind from the link: its prompt and address.
    engine.errKind = 3;
    engine.errAddress = 0x00010000;
    ui.answer = false;
    ops.Begin(kOpSlotWrite, 10);
    ops.Completed(5, 0);
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], "Device hardware failure:\nError ERASING block at address 00010000\n\nDo you want to continue?");
    EXPECT_FALSE(ops.Busy());

    // A restore failing with 5 but no error kind: the writing prompt at the block being written.
    engine.errKind = 0;
    ui.answer = true;
    ops.Begin(kOpFactory, 10);
    ops.Completed(5, 0);
    ASSERT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(ui.questions[1], "Device hardware failure:\nError WRITING block at address 00230000\n\nDo you want to continue?");
    EXPECT_EQ(stepRuns, 1);  // Yes ran the step as if the command had succeeded

    // Other kinds without an error kind: the link message, no prompt.
    ops.Begin(kOpSlotWrite, 10);
    ops.Completed(5, 0);
    EXPECT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(ui.messages.back(), "Device hardware failure:\n\nDevice reports internal error!");
}

TEST_F(Ops, ProfileSaveFailureDropsTheFileFirst) {
    bool dropped = false;
    ops.SetFailureHook(kOpProfileSave, [&] { dropped = true; });
    ops.Begin(kOpProfileSave, 10);
    ops.Completed(3, 0);
    EXPECT_TRUE(dropped);
}

TEST_F(Ops, TickWatchdogOnSerialAndStatusRefreshWhenIdle) {
    int idleTicks = 0;
    ops.SetIdleTick([&] { ++idleTicks; });
    engine.protocol = 2;
    ops.Begin(kOpSlotRead, 10);
    ops.Tick();
    EXPECT_TRUE(ops.Busy());
    engine.watchdogFires = true;
    ops.Tick();
    EXPECT_FALSE(ops.Busy());
    EXPECT_EQ(ui.messages.back(), "Device link error:\n\nCommuinication error, please check connection cable and try again!");
    // Ethernet has no watchdog.
    engine.protocol = 6;
    ops.Begin(kOpSlotRead, 10);
    ops.Tick();
    EXPECT_TRUE(ops.Busy());
    ops.End();
    ops.Tick();
    EXPECT_EQ(idleTicks, 1);
    // The status read restarts the timer after it ends.
    ops.Begin(kOpStatusRead, 10);
    ops.Completed(0, 0);
    EXPECT_TRUE(ui.timer);
}

TEST_F(Ops, AfterEndChainsTheNextOperation) {
    ops.SetStep(kOpBusScan, [&](int) {
        ops.AfterEnd([&] { ops.Begin(kOpSignature, 32, 0x80FFFFFF); });
        return false;
    });
    ops.Begin(kOpBusScan, 256);
    ops.Completed(0, 0);
    EXPECT_EQ(ops.Kind(), kOpSignature);
}
