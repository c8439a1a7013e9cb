// varoctl bin write ELEMENT FILE [SLOT]: loads FILE into the binary data element the way its
// page's "Load" does and writes it into the slot (every slot when none is named).
#include "cli/CliSession.h"
#include "devicedata/BinPage.h"
#include "model/CPnPBin.h"

namespace {
int RunBin(const VaroctlOptions& o, const std::vector<std::string>& a) {
    if (a.size() < 3 || a.size() > 4 || a[0] != "write") {
        std::fprintf(stderr, "usage: varoctl --link KIND:TARGET bin write ELEMENT FILE [SLOT]\n");
        return kExitUsage;
    }
    CliSession s;
    if (!s.Select(o)) return kExitUsage;
    if (int r = s.LoadModel()) return r;
    auto* el = static_cast<CPnPBin*>(FindCliElement(s.model, a[1], [](const CPnPBlock& e) { return e.kind == kPnPBin; }));
    if (!el) {
        std::fprintf(stderr, "varoctl: no binary data element '%s' in the model\n", a[1].c_str());
        return kExitUsage;
    }
    CBinPage page(*el, s.ctx);
    if (!page.Load(a[2])) return kExitNoInput;
    std::vector<int> slots;
    if (a.size() == 4) {
        const int found = FindCliSlot(*el, a[3]);
        if (found < 0) {
            std::fprintf(stderr, "varoctl: no slot '%s' in '%s'\n", a[3].c_str(), el->name.c_str());
            return kExitUsage;
        }
        slots.push_back(found);
    } else {
        for (size_t i = 0; i < el->items.size(); ++i) slots.push_back(int(i));
    }
    for (int i : slots) {
        if (!page.Write(i, false)) {
            std::fprintf(stderr, "varoctl: slot %d of '%s' cannot be written\n", i, el->name.c_str());
            return kExitUsage;
        }
        if (int r = s.Run()) return r;
    }
    return 0;
}

VaroctlRegistrar reg{{"bin", "bin write ELEMENT FILE [SLOT]", &RunBin}};
}  // namespace
