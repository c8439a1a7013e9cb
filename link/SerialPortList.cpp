#include "link/SerialPortList.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <cctype>
#include <fstream>
#include <mutex>
#include <set>

namespace {
std::mutex g_rootsLock;
std::string g_dev = "/dev", g_sys = "/sys";
std::string g_hint;  // with g_rootsLock

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') out.push_back(e->d_name);
        ::closedir(d);
    }
    return out;
}

// "ttyUSB10" after "ttyUSB9".
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit((unsigned char)a[i]) && std::isdigit((unsigned char)b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit((unsigned char)a[ie])) ++ie;
            while (je < b.size() && std::isdigit((unsigned char)b[je])) ++je;
            const unsigned long x = std::stoul(a.substr(i, std::min<size_t>(ie - i, 9)));
            const unsigned long y = std::stoul(b.substr(j, std::min<size_t>(je - j, 9)));
            if (x != y) return x < y;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string Resolved(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

bool UartPresent(const std::string& sys, const std::string& name) {
    std::ifstream f(sys + "/class/tty/" + name + "/type");
    int type = 0;
    return f >> type && type != 0;
}
}  // namespace

void SetSerialDeviceRoots(const std::string& devRoot, const std::string& sysRoot) {
    std::lock_guard<std::mutex> lock(g_rootsLock);
    g_dev = devRoot.empty() ? "/dev" : devRoot;
    g_sys = sysRoot.empty() ? "/sys" : sysRoot;
}

std::vector<std::string> PresentSerialDevices() {
    std::string dev, sys;
    {
        std::lock_guard<std::mutex> lock(g_rootsLock);
        dev = g_dev;
        sys = g_sys;
    }
    std::vector<std::string> out;
    std::set<std::string> covered;  // devices a by-id name already stands for
    std::vector<std::string> byId = Names(dev + "/serial/by-id");
    std::sort(byId.begin(), byId.end(), NaturalLess);
    for (const auto& n : byId) {
        const std::string path = dev + "/serial/by-id/" + n;
        out.push_back(path);
        covered.insert(Resolved(path));
    }
    std::vector<std::string> tty = Names(dev);
    std::sort(tty.begin(), tty.end(), NaturalLess);
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        const size_t len = std::char_traits<char>::length(prefix);
        for (const auto& n : tty) {
            if (n.compare(0, len, prefix) != 0 || n.size() == len ||
                !std::all_of(n.begin() + long(len), n.end(), [](char c) { return std::isdigit((unsigned char)c); }))
                continue;
            const std::string path = dev + "/" + n;
            if (covered.count(Resolved(path))) continue;
            if (std::string(prefix) == "ttyS" && !UartPresent(sys, n)) continue;
            out.push_back(path);
        }
    }
    return out;
}

std::string PortPermissionHint(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), R_OK | W_OK) == 0) return {};
    const group* g = ::getgrgid(st.st_gid);
    const std::string name = g ? g->gr_name : std::to_string(st.st_gid);
    return "Access to " + path + " is granted to the group \"" + name + "\" (for example: sudo usermod -aG " + name +
           " $USER, then log in again).";
}

void NotePortOpen(const std::string& path, int error) {
    std::string hint = error == EACCES || error == EPERM ? PortPermissionHint(path) : std::string();
    std::lock_guard<std::mutex> lock(g_rootsLock);
    g_hint = std::move(hint);
}

std::string TakePortOpenHint() {
    std::lock_guard<std::mutex> lock(g_rootsLock);
    return std::exchange(g_hint, std::string());
}
