#pragma once
#include <string>
#include <vector>

// varoctl: the scriptable command line over the same core as VaroConfig.
// Each command lives in a file of its own and registers itself here.

// Exit codes beyond the link result codes (0-8).
constexpr int kExitUsage = 64;
constexpr int kExitNoInput = 66;
constexpr int kExitCantCreate = 73;

// Options given before the command word.
struct VaroctlOptions {
    std::string link;   // --link KIND:TARGET
    std::string local;  // --local IP
    bool verify = false;
    bool noErase = false;  // --no-erase
};

using VaroctlHandler = int (*)(const VaroctlOptions& opts, const std::vector<std::string>& args);

struct VaroctlCommand {
    const char* name;
    const char* usage;  // one line per form, without the "varoctl" prefix
    VaroctlHandler run;
};

// Used as: static VaroctlRegistrar reg{{"signature", "...", &RunSignature}};
struct VaroctlRegistrar {
    explicit VaroctlRegistrar(const VaroctlCommand& cmd);
};

const std::vector<VaroctlCommand>& VaroctlCommands();
