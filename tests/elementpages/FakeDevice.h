#pragma once
#include "common/FakeDeviceContext.h"
#include "devicedata/COperations.h"
#include "devicedata/DeviceContext.h"
#include "model/CPnPModel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

// A scripted engine and an operator that records what it was shown: the pages' device steps
// run against them without a link or a window.
struct FakeEngine : IDeviceEngine {
    struct Cmd {
        int size, code;
        uint32_t address;
        uint8_t* buffer;
    };
    std::vector<Cmd> started;
    int errKind = 0;
    void StartCommand(int size, int code, uint32_t address, uint8_t* buffer) override {
        started.push_back({size, code, address, buffer});
    }
    int ErrorKind() const override { return errKind; }
    uint32_t ErrorAddress() const override { return 0; }
    uint32_t CommandAddress() const override { return started.empty() ? 0 : started.back().address; }
    int CurrentCommand() const override { return started.empty() ? 0 : started.back().code; }
    int Protocol() const override { return 5; }
    bool Watchdog() override { return false; }
};

struct FakeUi : IOperationUi {
    bool busy = false, timer = false;
    std::vector<std::string> messages;
    std::vector<MsgIcon> icons;
    void OperationStateChanged(bool b) override { busy = b; }
    void ShowProgressLine(bool) override {}
    void ProgressChanged() override {}
    void ShowMessage(const std::string& t, MsgIcon icon) override {
        messages.push_back(t);
        icons.push_back(icon);
    }
    bool AskYesNo(const std::string&, MsgIcon, bool) override { return false; }
    void SetTimer(bool r) override { timer = r; }
};

// A device context around the fakes with a loaded model.
struct FakeDevice : FakeDeviceContext<FakeEngine, FakeUi> {
    explicit FakeDevice(const std::string& xml) : FakeDeviceContext(xml, 4096) {}
    // The device answers the last command: a read gets these bytes, then success.
    void Answer(const std::vector<uint8_t>& bytes = {}) {
        ASSERT_FALSE(engine.started.empty());
        if (!bytes.empty()) std::memcpy(engine.started.back().buffer, bytes.data(), bytes.size());
        ops.Completed(0, 0);
    }
    void Fail(int result) { ops.Completed(result, 0); }
    // What the last write command carried.
    std::vector<uint8_t> Written() const {
        const auto& c = engine.started.back();
        return std::vector<uint8_t>(c.buffer, c.buffer + c.size);
    }
};
