#include "ElementPages.h"

#include "CBinView.h"
#include "CControlsView.h"
#include "CSerialView.h"
#include "CStatusView.h"
#include "model/CPnPBin.h"
#include "model/CPnPControl.h"
#include "model/CPnPSerial.h"
#include "model/CPnPStatus.h"

void RegisterElementPages() {
    RegisterPageFactory(kPnPControls, [](CPnPBlock* e, RDeviceContext& ctx, QWidget* parent) -> CPageView* {
        auto* c = dynamic_cast<CPnPControl*>(e);
        return c ? new CControlsView(c, ctx, parent) : nullptr;
    });
    RegisterPageFactory(kPnPStatus, [](CPnPBlock* e, RDeviceContext& ctx, QWidget* parent) -> CPageView* {
        auto* s = dynamic_cast<CPnPStatus*>(e);
        return s ? new CStatusView(s, ctx, parent) : nullptr;
    });
    RegisterPageFactory(kPnPSerial, [](CPnPBlock* e, RDeviceContext& ctx, QWidget* parent) -> CPageView* {
        auto* s = dynamic_cast<CPnPSerial*>(e);
        return s ? new CSerialView(s, ctx, parent) : nullptr;
    });
    RegisterPageFactory(kPnPBin, [](CPnPBlock* e, RDeviceContext& ctx, QWidget* parent) -> CPageView* {
        auto* b = dynamic_cast<CPnPBin*>(e);
        return b ? new CBinView(b, ctx, parent) : nullptr;
    });
}
