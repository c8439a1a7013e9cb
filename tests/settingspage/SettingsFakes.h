#pragma once
#include "common/FakeDeviceContext.h"
#include "devicedata/COperations.h"
#include "devicedata/DeviceContext.h"
#include "model/CPnPModel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

// A device memory behind a scripted engine: commands wait until Pump() carries them out and
// completes them, so a test sees each operation step by step.
struct MemoryEngine : IDeviceEngine {
    struct Cmd {
        int size, code;
        uint32_t address;
        uint8_t* buffer;
    };
    std::map<uint32_t, uint8_t> memory;  // unset bytes read as 0xFF
    std::vector<Cmd> started;
    size_t done = 0;
    struct Write {
        uint32_t address;
        int size;
        std::vector<uint8_t> data;
    };
    std::vector<Write> writes;  // as carried out
    int failWith = 0;  // the next command fails with this result

    void StartCommand(int size, int code, uint32_t address, uint8_t* buffer) override {
        started.push_back({size, code, address, buffer});
    }
    int ErrorKind() const override { return 0; }
    uint32_t ErrorAddress() const override { return 0; }
    uint32_t CommandAddress() const override { return started.empty() ? 0 : started.back().address; }
    int CurrentCommand() const override { return started.empty() ? 0 : started.back().code; }
    int Protocol() const override { return 6; }
    bool Watchdog() override { return false; }

    uint8_t At(uint32_t a) const {
        auto it = memory.find(a);
        return it == memory.end() ? 0xFF : it->second;
    }
    void Put(uint32_t a, const std::vector<uint8_t>& b) {
        for (size_t i = 0; i < b.size(); ++i) memory[a + uint32_t(i)] = b[i];
    }
    std::vector<uint8_t> Get(uint32_t a, size_t n) const {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = At(a + uint32_t(i));
        return v;
    }
    const std::vector<Write>& Writes() const { return writes; }
    // Carries out the oldest command not yet done; false when none is waiting.
    bool Step(COperations& ops) {
        if (done >= started.size()) return false;
        Cmd c = started[done++];
        int result = failWith;
        failWith = 0;
        if (result == 0) {
            if (c.code == 3)
                for (int i = 0; i < c.size; ++i) c.buffer[i] = At(c.address + uint32_t(i));
            else if (c.code == 4) {
                for (int i = 0; i < c.size; ++i) memory[c.address + uint32_t(i)] = c.buffer[i];
                writes.push_back({c.address, c.size, std::vector<uint8_t>(c.buffer, c.buffer + c.size)});
            }
        }
        ops.Completed(result, result == 0 ? c.size : 0);
        return true;
    }
    void Pump(COperations& ops) {
        for (int guard = 0; guard < 100000 && Step(ops); ++guard) {}
    }
};

struct RecordingUi : IOperationUi {
    std::vector<std::string> messages, questions;
    std::vector<MsgIcon> icons;
    bool answer = true;
    bool busy = false;
    void OperationStateChanged(bool b) override { busy = b; }
    void ShowProgressLine(bool) override {}
    void ProgressChanged() override {}
    void ShowMessage(const std::string& t, MsgIcon icon) override {
        messages.push_back(t);
        icons.push_back(icon);
    }
    bool AskYesNo(const std::string& t, MsgIcon icon, bool defaultNo) override {
        EXPECT_EQ(icon, MsgIcon::Question);
        EXPECT_TRUE(defaultNo);
        questions.push_back(t);
        return answer;
    }
    void SetTimer(bool) override {}
};

struct FakeSettingsDevice : FakeDeviceContext<MemoryEngine, RecordingUi> {
    explicit FakeSettingsDevice(const std::string& xml) : FakeDeviceContext(xml, 0x10000) {
        ctx.interfaceChoice = 1;
    }
};
