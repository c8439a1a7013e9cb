#include "CPageView.h"
#include "devicedata/ui/CSettingsPageView.h"
#include "devicedata/ui/elements/ElementPages.h"
#include "pictures/ui/PicturesPages.h"
#include "signals/ui/MultiScreenPages.h"

// Each page module offers one registration function; add a line here for a new page.
void RegisterAllPages() {
    static bool done = false;
    if (done) return;
    done = true;
    RegisterElementPages();
    RegisterSettingsPages();
    RegisterPicturesPages();
    RegisterMultiScreenPages();
}
