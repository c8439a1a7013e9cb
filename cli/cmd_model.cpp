// varoctl model FILE: loads a model file and prints it as JSON; the exit code is the loader's
// result, so it doubles as a validator for the people who write model files.
#include "cli/Varoctl.h"
#include "model/CPnPModel.h"
#include "model/ModelJson.h"

#include <cstdio>

namespace {
int RunModel(const VaroctlOptions&, const std::vector<std::string>& args) {
    std::string path, language = "English";
    bool bad = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--language" && i + 1 < args.size())
            language = args[++i];
        else if (path.empty())
            path = args[i];
        else
            bad = true;
    }
    if (path.empty() || bad) {
        std::fprintf(stderr, "usage: varoctl model FILE [--language NAME]\n");
        return kExitUsage;
    }
    CPnPModel model;
    model.SetLanguage(language);
    int result = model.Load(path);
    std::fputs(PnPModelToJson(model, path, result).c_str(), stdout);
    if (result == kPnPCannotOpen)
        std::fprintf(stderr, "varoctl: cannot open or parse %s\n", path.c_str());
    else if (result == kPnPNoModel)
        std::fprintf(stderr, "varoctl: %s has no \"pnp\" element under its root\n", path.c_str());
    return result;
}

VaroctlRegistrar reg{{"model", "model FILE [--language NAME]", &RunModel}};
}  // namespace
