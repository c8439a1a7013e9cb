#pragma once
#include "devicedata/DeviceContext.h"

extern const char* const kTextTimeSynchronized;

// "Synchronize time" (kind 81): the link sends the computer's local time to the device; on
// success "Time synchronized.". The caller shows the button only for models with the time-sync
// flag. False when nothing was begun (busy, or the loaded model has no clock).
bool StartTimeSync(RDeviceContext& ctx);
