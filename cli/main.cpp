#include "Varoctl.h"

#include "link/eth/CEth1.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
std::vector<VaroctlCommand>& Registry() {
    static std::vector<VaroctlCommand> r;
    return r;
}

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: varoctl [--link KIND:TARGET] [--local IP] [--verify] [--no-erase] COMMAND [ARGS...]\n"
                 "commands:\n");
    auto cmds = Registry();
    std::sort(cmds.begin(), cmds.end(), [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const auto& c : cmds) std::fprintf(out, "  %s\n", c.usage);
}
}  // namespace

VaroctlRegistrar::VaroctlRegistrar(const VaroctlCommand& cmd) { Registry().push_back(cmd); }

const std::vector<VaroctlCommand>& VaroctlCommands() { return Registry(); }

int main(int argc, char** argv) {
    CEth1::Install();
    VaroctlOptions opts;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--link" && i + 1 < argc) {
            opts.link = argv[++i];
        } else if (a == "--local" && i + 1 < argc) {
            opts.local = argv[++i];
        } else if (a == "--verify") {
            opts.verify = true;
        } else if (a == "--no-erase") {
            opts.noErase = true;
        } else {
            std::fprintf(stderr, "varoctl: unknown option '%s'\n", argv[i]);
            Usage(stderr);
            return kExitUsage;
        }
    }
    if (i >= argc) {
        Usage(stderr);
        return kExitUsage;
    }
    std::string name = argv[i++];
    std::vector<std::string> args(argv + i, argv + argc);
    for (const auto& c : Registry()) {
        if (name == c.name) return c.run(opts, args);
    }
    std::fprintf(stderr, "varoctl: '%s' is not a command of this build\n", name.c_str());
    Usage(stderr);
    return kExitUsage;
}
