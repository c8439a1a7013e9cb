#pragma once
#include "lanora/protocol/ModuleProtocol.h"

#include <optional>
#include <string>

// Decisions of the setup tool's window, kept apart from the widgets.

struct RLanoraControls {
    bool language = true, close = true;
    bool interfaces = false, refresh = false, passport = false, log = false;
    bool blink = false, ping = false, setup = false;
    bool clear = false, exportLog = false;
};
// haveInterface: an interface is selected; logEntries: the log list is not empty.
RLanoraControls LanoraControlState(bool haveInterface, bool deviceSelected, bool logMode, bool logEntries);

// Setup: two-port dialog for a module with exactly one further port, one-port dialog otherwise.
bool LanoraTwoPortSetup(const RModuleListRecord& rec);

struct RSetupValues {
    RModulePort main, second;  // second used by the two-port dialog only
};
RSetupValues LanoraSetupValues(const RModuleListRecord& rec);

// The first invalid address of the dialog, if any (both addresses in the two-port case).
bool LanoraSetupValid(const RModuleListRecord& rec, const RSetupValues& v);

// Nothing to send when nothing changed; otherwise stores the values in rec and returns the
// request: the extended form for the two-port case, the simple one otherwise.
std::optional<std::vector<uint8_t>> LanoraApplySetup(RModuleListRecord& rec, const RSetupValues& v);

// Dotted text of the dialog fields: valid only with four fields 0..255.
bool LanoraParseAddress(const std::string& text, uint32_t& ip);
