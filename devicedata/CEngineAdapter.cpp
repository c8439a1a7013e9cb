#include "CEngineAdapter.h"

bool RunOperation(COperations& ops, CLinkWaiter& waiter, CSerial& engine, int timeoutMs) {
    waiter.onProgress = [&](int value) { return ops.Progress(value); };
    while (ops.Busy()) {
        CLinkWaiter::Completion c = waiter.Wait(&engine, timeoutMs);
        if (c.result < 0) {
            ops.End();
            return false;
        }
        ops.Completed(c.result, c.value);
    }
    return true;
}
