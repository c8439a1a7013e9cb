#include "PicturesPages.h"

#include "CPicturesView.h"
#include "model/CPnPPics.h"

void RegisterPicturesPages() {
    const PageFactory factory = [](CPnPBlock* e, RDeviceContext& ctx, QWidget* parent) -> CPageView* {
        auto* p = dynamic_cast<CPnPPics*>(e);
        return p ? new CPicturesView(p, ctx, parent) : nullptr;
    };
    RegisterPageFactory(kPnPPictures, factory);
    RegisterPageFactory(kPnPPicText, factory);
    RegisterPageFactory(kPnPPicturesCompressed, factory);
}
