#pragma once
// A device context around a test's scripted engine and operator stand-in, with a model loaded
// from text: the pages' device steps run against it without a link or a window. The clock is
// held at zero so no operation ever times out by itself.
#include "devicedata/COperations.h"
#include "devicedata/DeviceContext.h"
#include "model/CPnPModel.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

template <class Engine, class Ui>
struct FakeDeviceContext {
    Engine engine;
    Ui ui;
    COperations ops{engine, ui, [] { return int64_t(0); }};
    std::vector<uint8_t> buffer;  // filled with 0xEE so untouched bytes show
    CPnPModel model;
    RDeviceContext ctx;

    FakeDeviceContext(const std::string& xml, size_t bufferBytes) : buffer(bufferBytes, 0xEE) {
        EXPECT_EQ(model.LoadFromText(xml), kPnPLoaded);
        ctx.ops = &ops;
        ctx.engine = &engine;
        ctx.ui = &ui;
        ctx.buffer = buffer.data();
        ctx.bufferSize = buffer.size();
        ctx.model = &model;
    }
};
