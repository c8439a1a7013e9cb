#include "CPageView.h"

#include <map>

namespace {
std::map<int, PageFactory>& Registry() {
    static std::map<int, PageFactory> r;
    return r;
}
}  // namespace

void RegisterPageFactory(int kind, PageFactory factory) { Registry()[kind] = std::move(factory); }

const PageFactory* FindPageFactory(int kind) {
    auto it = Registry().find(kind);
    return it == Registry().end() ? nullptr : &it->second;
}
