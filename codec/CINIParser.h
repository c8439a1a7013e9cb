#pragma once
#include <cstdio>
#include <string>

// Reads values from text made of "[SECTION]" lines and key=value lines (ffprobe's default
// output).
class CINIParser {
public:
    CINIParser() = default;
    virtual ~CINIParser();
    CINIParser(const CINIParser&) = delete;
    CINIParser& operator=(const CINIParser&) = delete;

    bool Open(const std::string& path);
    // The text after "key=" of the first such line in the section; empty when absent.
    std::string Get(const std::string& key, const std::string& section);

private:
    std::FILE* m_file = nullptr;
    char m_value[256] = {};
};
