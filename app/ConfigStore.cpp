#include "ConfigStore.h"

#include "ProgramFolder.h"
#include "UserFolders.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {
// One writer at a time inside the process: each write rewrites the whole file.
std::mutex g_ioMutex;

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return s.substr(b, e - b);
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string cur;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') {
                if (!cur.empty() && cur.back() == '\r') cur.pop_back();
                lines.push_back(cur);
                cur.clear();
            } else {
                cur += buf[i];
            }
        }
    }
    std::fclose(f);
    if (!cur.empty()) lines.push_back(cur);
    return true;
}

// "[name]" gives true with the trimmed name.
bool SectionName(const std::string& line, std::string& name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t[0] != '[') return false;
    auto close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

bool KeyValue(const std::string& line, std::string& key, std::string& value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '[') return false;
    auto eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

const char kHex[] = "0123456789ABCDEF";
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

CConfigStore::CConfigStore(std::string path) : m_path(std::move(path)) {}

void CConfigStore::SetPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_ioMutex);
    m_path = path;
}

void CConfigStore::SetSeed(const std::string& seed) {
    std::lock_guard<std::mutex> lock(g_ioMutex);
    m_seed = seed;
}

const std::string& CConfigStore::ReadPath() const {
    if (m_seed.empty() || ::access(m_path.c_str(), F_OK) == 0) return m_path;
    return m_seed;
}

std::string CConfigStore::Path() const {
    std::lock_guard<std::mutex> lock(g_ioMutex);
    return m_path;
}

bool CConfigStore::Lookup(const std::string& section, const std::string& key, std::string& value) const {
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> lock(g_ioMutex);
        if (!ReadLines(ReadPath(), lines)) return false;
    }
    bool inSection = false;
    for (const auto& line : lines) {
        std::string name;
        if (SectionName(line, name)) {
            inSection = SameName(name, section);
            continue;
        }
        std::string k, v;
        if (inSection && KeyValue(line, k, v) && SameName(k, key)) {
            value = v;
            return true;
        }
    }
    return false;
}

int CConfigStore::ReadInt(const std::string& section, const std::string& key, int def) const {
    std::string v;
    if (!Lookup(section, key, v)) return def;
    // Like the classic call: the leading decimal number, 0 when there is none.
    const char* p = v.c_str();
    bool neg = false;
    if (*p == '-' || *p == '+') neg = (*p++ == '-');
    long long n = 0;
    while (*p >= '0' && *p <= '9') {
        n = n * 10 + (*p++ - '0');
        if (n > 0xFFFFFFFFll) n = 0xFFFFFFFFll;
    }
    if (neg) n = -n;
    return static_cast<int>(static_cast<uint32_t>(static_cast<int64_t>(n)));
}

std::string CConfigStore::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    std::string v;
    if (!Lookup(section, key, v)) return def;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

bool CConfigStore::WriteInt(const std::string& section, const std::string& key, int value) {
    return Write(section, key, std::to_string(value));
}

bool CConfigStore::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    return Write(section, key, value);
}

bool CConfigStore::ReadStruct(const std::string& section, const std::string& key, void* data, size_t size) const {
    std::string v;
    if (!Lookup(section, key, v)) return false;
    if (v.size() != size * 2 + 2) return false;
    std::vector<uint8_t> bytes(size + 1);
    for (size_t i = 0; i <= size; ++i) {
        int hi = HexDigit(v[2 * i]), lo = HexDigit(v[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = uint8_t(hi * 16 + lo);
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = uint8_t(sum + bytes[i]);
    if (sum != bytes[size]) return false;
    if (size) std::memcpy(data, bytes.data(), size);
    return true;
}

bool CConfigStore::WriteStruct(const std::string& section, const std::string& key, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    std::string v;
    v.reserve(size * 2 + 2);
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) {
        v += kHex[p[i] >> 4];
        v += kHex[p[i] & 15];
        sum = uint8_t(sum + p[i]);
    }
    v += kHex[sum >> 4];
    v += kHex[sum & 15];
    return Write(section, key, v);
}

bool CConfigStore::Write(const std::string& section, const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(g_ioMutex);
    std::vector<std::string> lines;
    ReadLines(ReadPath(), lines);  // a missing file is an empty one

    // Find the section and the key inside it.
    long sectionLine = -1, keyLine = -1, lastInSection = -1;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name;
        if (SectionName(lines[i], name)) {
            if (inSection) break;
            inSection = SameName(name, section);
            if (inSection) {
                sectionLine = long(i);
                lastInSection = long(i);
            }
            continue;
        }
        if (!inSection) continue;
        if (!Trim(lines[i]).empty()) lastInSection = long(i);
        std::string k, v;
        if (KeyValue(lines[i], k, v) && SameName(k, key)) {
            keyLine = long(i);
            break;
        }
    }
    std::string entry = key + "=" + value;
    if (keyLine >= 0) {
        // Keep the key's original spelling.
        std::string k, v;
        KeyValue(lines[size_t(keyLine)], k, v);
        lines[size_t(keyLine)] = k + "=" + value;
    } else if (sectionLine >= 0) {
        lines.insert(lines.begin() + lastInSection + 1, entry);
    } else {
        if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    }

    // Write beside the file and rename over it, so a crash never leaves half a store.
    std::string tmp = m_path + ".tmp";
    const size_t slash = m_path.rfind('/');
    if (slash != std::string::npos && slash > 0) MakeFolders(m_path.substr(0, slash));
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    for (const auto& l : lines) {
        if (std::fputs(l.c_str(), f) < 0 || std::fputs("\n", f) < 0) ok = false;
    }
    if (std::fflush(f) != 0) ok = false;
    if (std::fclose(f) != 0) ok = false;
    if (!ok || std::rename(tmp.c_str(), m_path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

CConfigStore& AppStore() {
    static CConfigStore store = [] {
        CConfigStore s(StoreFolder() + "VaroConfig.ini");
        if (StoreFolder() != ProgramFolder()) s.SetSeed(ProgramFolder() + "VaroConfig.ini");
        return s;
    }();
    return store;
}
