#include "UserFolders.h"

#include "ProgramFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {
std::string Home() {
    const char* h = std::getenv("HOME");
    return h && *h ? h : "/tmp";
}

// $VAR when set to an absolute path (the XDG rule), else ~/fallback.
std::string XdgFolder(const char* var, const char* fallback) {
    const char* v = std::getenv(var);
    std::string base = v && v[0] == '/' ? std::string(v) : Home() + "/" + fallback;
    if (base.back() != '/') base += '/';
    return base + "VaroConfig/";
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

bool FolderWritable(const std::string& folder) {
    const std::string f = folder.empty() ? "./" : folder;
    return ::access(f.c_str(), W_OK) == 0 && ::access((f + kInstalledMarker).c_str(), F_OK) != 0;
}

bool MakeFolders(const std::string& folder) {
    if (folder.empty() || IsFolder(folder)) return true;
    const size_t slash = folder.find_last_of('/', folder.size() > 1 ? folder.size() - 2 : 0);
    if (slash != std::string::npos && slash > 0) MakeFolders(folder.substr(0, slash));
    return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string StoreFolder() {
    const std::string& p = ProgramFolder();
    return FolderWritable(p) ? p : XdgFolder("XDG_CONFIG_HOME", ".config");
}

std::string LogFolder() {
    const std::string& p = ProgramFolder();
    return FolderWritable(p) ? p : XdgFolder("XDG_STATE_HOME", ".local/state");
}

std::string DocumentsFolder() {
    if (FolderWritable(ProgramFolder())) return {};
    const char* d = std::getenv("XDG_DOCUMENTS_DIR");
    if (d && d[0] == '/' && IsFolder(d)) return std::string(d) + "/";
    const std::string docs = Home() + "/Documents";
    return IsFolder(docs) ? docs + "/" : Home() + "/";
}
