#include "codec/CINIParser.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

CINIParser::~CINIParser() {
    if (m_file) std::fclose(m_file);
}

bool CINIParser::Open(const std::string& path) {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    for (int attempt = 0; attempt < 3 && !m_file; ++attempt) {
        m_file = std::fopen(path.c_str(), "r");
        if (!m_file && errno != EACCES) break;
        if (!m_file) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return m_file != nullptr;
}

std::string CINIParser::Get(const std::string& key, const std::string& section) {
    if (!m_file) return {};
    std::rewind(m_file);
    const std::string open = "[" + section;
    const std::string prefix = key + "=";
    bool inSection = false;
    char line[256];
    while (std::fgets(line, sizeof line, m_file)) {
        if (line[0] == '[') {
            inSection = std::strncmp(line, open.c_str(), open.size()) == 0;
            continue;
        }
        if (inSection && std::strncmp(line, prefix.c_str(), prefix.size()) == 0) {
            std::snprintf(m_value, sizeof m_value, "%s", line + prefix.size());
            m_value[std::strcspn(m_value, "\r\n")] = 0;
            return m_value;
        }
    }
    return {};
}
