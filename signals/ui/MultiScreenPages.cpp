#include "MultiScreenPages.h"

#include "CMultiScreenView.h"
#include "model/CPnPMultiScreen.h"

void RegisterMultiScreenPages() {
    RegisterPageFactory(kPnPMultiScreen, [](CPnPBlock* e, RDeviceContext& ctx, QWidget* parent) -> CPageView* {
        auto* m = dynamic_cast<CPnPMultiScreen*>(e);
        return m ? new CMultiScreenView(m, ctx, parent) : nullptr;
    });
}
