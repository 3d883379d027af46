// What the system knows of each instrument model, looked up by the model id a
// scan found. The Tarvonic is the one model that can be flashed.
#pragma once

#include <cstdint>
#include <span>

#include "device/device_records.h"

extern const ModelDescriptor UnknownModel;  // id 0, "Unknown", no handler
std::span<const ModelDescriptor* const> ModelTable();

// The first table entry with this id, or UnknownModel.
const ModelDescriptor* LookupModel(std::uint8_t modelId);
