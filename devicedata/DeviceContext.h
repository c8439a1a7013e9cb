#pragma once
#include "devicedata/COperations.h"
#include "devicedata/IDeviceEngine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class CPnPModel;
class ILinkNotifier;
struct CMainSettings;

// What the main window lends every page: the operation protocol, the engine, the one data
// buffer for all transfers, the loaded model, and the connection facts pages need.
// A page begins device work only through ops (passing its own completion step) and talks to
// the operator only through ui (ShowMessage / AskYesNo), so tests and varoctl can answer.
struct RDeviceContext {
    static constexpr size_t kBufferSize = 0x1000000;  // 16 MB

    COperations* ops = nullptr;
    IDeviceEngine* engine = nullptr;
    IOperationUi* ui = nullptr;
    uint8_t* buffer = nullptr;
    size_t bufferSize = 0;
    CPnPModel* model = nullptr;
    int interfaceChoice = 3;  // 0 RS-232, 1 RS-422, 2 RS-485, 3 Ethernet TCP, 4 Ethernet UDP
    std::string effectiveModelName;
    // The window's remembered choices (folders, loading options); null without a window.
    CMainSettings* settings = nullptr;
    // Where the link reports; pages' own long work reports there too (null: none, it runs inline).
    ILinkNotifier* notifier = nullptr;
    // The Ethernet link stopped answering (checked before writing settings).
    std::function<bool()> notResponding = [] { return false; };
};
