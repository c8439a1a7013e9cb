#pragma once
// varosim on a pty holding a sample model, the real engine on it, the operation protocol and
// a device context around them, as the page tests drive a device end to end. Ui is the
// test's own stand-in for the message boxes.
#include "common/TempDir.h"
#include "devicedata/CEngineAdapter.h"
#include "devicedata/COperations.h"
#include "devicedata/DeviceContext.h"
#include "link/CLinkWaiter.h"
#include "link/CSerial.h"
#include "link/LinkTestSupport.h"
#include "model/CPnPModel.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

inline std::string BinDir() {
    const char* d = std::getenv("VARO_BIN_DIR");
    return d ? d : ".";
}

template <class Ui>
struct SimDeviceRig {
    TempDir dir;
    LinkLogSetup log{dir};
    std::unique_ptr<SimProcess> sim;
    CLinkWaiter waiter;
    CSerial serial;
    CEngineAdapter engine{serial};
    Ui ui;
    COperations ops{engine, ui};
    std::vector<uint8_t> buffer = std::vector<uint8_t>(RDeviceContext::kBufferSize);
    CPnPModel model;
    RDeviceContext ctx;

    ~SimDeviceRig() { serial.DestroyLinks(); }

    // Starts varosim with ModelsPnP/<modelName> in the given dialect, loads the same model and
    // links the engine to it. Empty when all is ready, otherwise what went wrong.
    std::string Launch(const std::string& modelName, const std::string& dialect, int protocol, int choice) {
        const std::string xml = BinDir() + "/ModelsPnP/" + modelName;
        sim = std::make_unique<SimProcess>(dir, std::vector<std::string>{"--dialect", dialect, "--model", xml});
        if (!sim->Ready()) return "varosim did not come up with " + modelName;
        model.SetProgramFolder(BinDir() + "/");
        if (model.Load(xml) != kPnPLoaded) return modelName + " did not load";
        serial.SelectLinkPath(0, protocol, &waiter, sim->Path(), -1, 0);
        ctx.ops = &ops;
        ctx.engine = &engine;
        ctx.ui = &ui;
        ctx.buffer = buffer.data();
        ctx.bufferSize = buffer.size();
        ctx.model = &model;
        ctx.interfaceChoice = choice;
        return {};
    }
};
