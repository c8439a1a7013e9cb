#pragma once
#include "model/CPnPModel.h"

#include <gtest/gtest.h>

#include <string>

// Wraps a "pnp" body in a document and loads it.
inline int LoadPnp(CPnPModel& m, const std::string& body, const std::string& pnpAttrs = "") {
    return m.LoadFromText("<?xml version=\"1.0\"?>\n<model><pnp " + pnpAttrs + ">" + body + "</pnp></model>");
}

template <class T>
T* First(const CPnPModel& m, int kind) {
    return static_cast<T*>(m.FindFirst(kind));
}
