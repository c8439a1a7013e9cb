#pragma once
#include "model/CPnPModel.h"

#include <string>

// The loaded model as JSON, for the people who write model files: elements with their kinds,
// addresses, sizes, items (and whether each named file exists), nodes, pages and groups.
std::string PnPModelToJson(const CPnPModel& model, const std::string& path, int result);
