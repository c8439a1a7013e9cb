#include "lanora/LanoraLog.h"

#include <cstdio>

bool CLanoraLog::Add(const RLogMessage& msg, const std::tm& t, int millis) {
    RLanoraLogEntry e;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
    e.date = buf;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.tm_hour, t.tm_min, t.tm_sec, millis);
    e.time = buf;
    e.mac = MacToText(msg.mac);
    e.model = ModuleDeviceName(msg.family, msg.variant);
    e.text = msg.text.substr(0, kMaxText);
    bool dropped = false;
    if (m_entries.size() >= kMaxEntries) {
        m_entries.pop_front();
        dropped = true;
    }
    m_entries.push_back(std::move(e));
    return dropped;
}

std::string CLanoraLog::ExportText() const {
    std::string s;
    for (const auto& e : m_entries) {
        s += e.date + ";" + e.time + ";" + e.mac + ";" + (e.model ? e.model : "") + ";" + e.text + ";\n";
    }
    return s;
}
