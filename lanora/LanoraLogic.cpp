#include "lanora/LanoraLogic.h"

RLanoraControls LanoraControlState(bool haveInterface, bool deviceSelected, bool logMode, bool logEntries) {
    RLanoraControls c;
    c.interfaces = haveInterface && !logMode;
    c.log = haveInterface;
    if (logMode) {
        c.clear = true;
        c.exportLog = logEntries;
    } else {
        c.refresh = c.passport = haveInterface;
        c.blink = c.ping = c.setup = haveInterface && deviceSelected;
    }
    return c;
}

bool LanoraTwoPortSetup(const RModuleListRecord& rec) { return rec.FurtherPorts() == 1; }

RSetupValues LanoraSetupValues(const RModuleListRecord& rec) {
    RSetupValues v;
    v.main = rec.Port(0);
    if (LanoraTwoPortSetup(rec)) v.second = rec.Port(1);
    return v;
}

bool LanoraSetupValid(const RModuleListRecord& rec, const RSetupValues& v) {
    return ModuleIpValid(v.main.ip) && (!LanoraTwoPortSetup(rec) || ModuleIpValid(v.second.ip));
}

std::optional<std::vector<uint8_t>> LanoraApplySetup(RModuleListRecord& rec, const RSetupValues& v) {
    bool two = LanoraTwoPortSetup(rec);
    if (v.main == rec.Port(0) && (!two || v.second == rec.Port(1))) return std::nullopt;
    rec.SetPort(0, v.main);
    if (two) {
        rec.SetPort(1, v.second);
        return ModuleSetRequestExtended(rec);
    }
    return ModuleSetRequest(rec.Mac(), v.main);
}

bool LanoraParseAddress(const std::string& text, uint32_t& ip) { return ModuleIpFromText(text, ip); }
