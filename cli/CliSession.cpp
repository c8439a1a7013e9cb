#include "cli/CliSession.h"

#include <strings.h>

CPnPBlock* FindCliElement(CPnPModel& model, const std::string& name, int kind) {
    for (const auto& e : model.elements)
        if (e->kind == kind && strcasecmp(e->name.c_str(), name.c_str()) == 0) return e.get();
    return nullptr;
}
