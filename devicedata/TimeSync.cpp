#include "TimeSync.h"

#include "link/LinkDefs.h"
#include "model/CPnPModel.h"

const char* const kTextTimeSynchronized = "Time synchronized.";

bool StartTimeSync(RDeviceContext& ctx) {
    if (!ctx.ops || !ctx.engine || ctx.ops->Busy()) return false;
    if (ctx.model && !ctx.model->timeSync) return false;
    IOperationUi* ui = ctx.ui;
    ctx.ops->Begin(kOpClock, 0, -1, [ui](int) {
        if (ui) ui->ShowMessage(kTextTimeSynchronized, MsgIcon::Information);
        return false;
    });
    ctx.engine->StartCommand(0, kCmdClock, 0, nullptr);
    return true;
}
