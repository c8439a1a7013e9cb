#include "ProgramFolder.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace {
std::mutex g_mutex;
std::string g_folder;
std::string g_stem;
bool g_init = false;

void InitLocked() {
    if (g_init) return;
    g_init = true;
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string exe = n > 0 ? std::string(buf, size_t(n)) : std::string("./VaroConfig");
    auto slash = exe.rfind('/');
    std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
    if (g_folder.empty()) g_folder = slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
    if (g_stem.empty()) {
        auto dot = name.rfind('.');
        g_stem = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
    }
}

bool Exists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}
}  // namespace

const std::string& ProgramFolder() {
    std::lock_guard<std::mutex> lock(g_mutex);
    InitLocked();
    return g_folder;
}

const std::string& ProgramFileStem() {
    std::lock_guard<std::mutex> lock(g_mutex);
    InitLocked();
    return g_stem;
}

void SetProgramFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_mutex);
    InitLocked();
    g_folder = folder;
    if (!g_folder.empty() && g_folder.back() != '/') g_folder += '/';
}

void SetProgramFileStem(const std::string& stem) {
    std::lock_guard<std::mutex> lock(g_mutex);
    InitLocked();
    g_stem = stem;
}

std::string ResolveDataPath(const std::string& folder, const std::string& nameIn) {
    std::string name = nameIn;
    for (auto& c : name)
        if (c == '\\') c = '/';
    // "C:/..." or "/..." is absolute: used as it stands.
    bool absolute = (!name.empty() && name[0] == '/') ||
                    (name.size() >= 2 && name[1] == ':' && isalpha(static_cast<unsigned char>(name[0])));
    if (absolute) return name;
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    std::string exact = base + name;
    if (Exists(exact)) return exact;

    // Walk the components, matching each without regard to case.
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (end > start) parts.push_back(name.substr(start, end - start));
        start = end + 1;
    }
    std::string cur = base.empty() ? std::string("./") : base;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string next = cur + parts[i];
        if (!Exists(next)) {
            DIR* d = opendir(cur.c_str());
            if (!d) return exact;
            std::string found;
            while (dirent* e = readdir(d)) {
                if (strcasecmp(e->d_name, parts[i].c_str()) == 0) {
                    found = e->d_name;
                    break;
                }
            }
            closedir(d);
            if (found.empty()) return exact;
            next = cur + found;
        }
        cur = next;
        if (i + 1 < parts.size()) cur += '/';
    }
    return cur;
}
