#pragma once
// A device session for the page commands of varoctl: the link chosen by --link, a waiter as
// its notifier, the operation protocol with the terminal as its operator, the 16 MB buffer,
// and the model the device's signature selects.
#include "cli/Varoctl.h"
#include "devicedata/CEngineAdapter.h"
#include "devicedata/COperations.h"
#include "devicedata/DeviceContext.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "model/CPnPModel.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Messages and questions of the page on the terminal; questions are answered Yes (the
// command line asked for the change already). Link failures keep their result code.
struct CliUi : IOperationUi {
    void OperationStateChanged(bool) override {}
    void ShowProgressLine(bool) override {}
    void ProgressChanged() override {}
    void ShowMessage(const std::string& text, MsgIcon icon) override {
        if (text == kTextWriteComplete) return;
        std::string t = text;
        for (auto& c : t)
            if (c == '\n') c = ' ';
        std::fprintf(stderr, "varoctl: %s\n", t.c_str());
        if (icon == MsgIcon::Stop) failed = true;
    }
    bool AskYesNo(const std::string&, MsgIcon, bool) override { return true; }
    void SetTimer(bool) override {}
    bool failed = false;
};

struct CliSession {
    CLinkWaiter waiter;  // outlives the engine: its workers report to it until they are joined
    CSerial serial;
    CEngineAdapter engine{serial};
    CliUi ui;
    COperations ops{engine, ui};
    std::vector<uint8_t> buffer = std::vector<uint8_t>(RDeviceContext::kBufferSize);
    CPnPModel model;
    RDeviceContext ctx;
    int lastResult = 0;

    ~CliSession() { serial.DestroyLinks(); }

    bool Select(const VaroctlOptions& o);

    // Hands the link's notifications to the operation until it ends; the last failure counts.
    int Run();

    // Signature -> ModelsPnP/<signature>.xml from the program folder.
    int LoadModel();
};

// The element named name or titled so on its page (case-insensitive) among those accept takes;
// null when none.
CPnPBlock* FindCliElement(CPnPModel& model, const std::string& name,
                          const std::function<bool(const CPnPBlock&)>& accept);
// An item of the element by its name, else by its index; -1 when none.
int FindCliSlot(const CPnPBlock& element, const std::string& slot);
