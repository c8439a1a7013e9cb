#pragma once
#include "lanora/protocol/ModuleProtocol.h"

#include <ctime>
#include <deque>
#include <string>

// The log list of the setup tool: at most 1000 entries, the oldest dropped first.
struct RLanoraLogEntry {
    std::string date;      // "%02d.%02d.%04d" day, month, year of arrival
    std::string time;      // "%02d:%02d:%02d.%03d"
    std::string mac;       // as in the device list
    const char* model = nullptr;  // device name table entry, or none
    std::string text;      // up to 511 characters
};

class CLanoraLog {
public:
    static constexpr size_t kMaxEntries = 1000;
    static constexpr size_t kMaxText = 511;

    virtual ~CLanoraLog() = default;
    // Adds a parsed message received at the given local time (milliseconds 0..999).
    // Returns true when the oldest entry had to go first.
    bool Add(const RLogMessage& msg, const std::tm& local, int millis);
    void Clear() { m_entries.clear(); }
    size_t Size() const { return m_entries.size(); }
    const RLanoraLogEntry& At(size_t i) const { return m_entries[i]; }
    // One line per entry: "date;time;MAC;model;text;\n".
    std::string ExportText() const;

private:
    std::deque<RLanoraLogEntry> m_entries;
};
