#include "device/model_table.h"

#include "device/tarvonic_handler.h"

namespace {
const ModelDescriptor Tarvonic{0x41, "Tarvonic", TarvonicHandler};
const ModelDescriptor* const Models[] = {&Tarvonic};
}  // namespace

const ModelDescriptor UnknownModel{0, "Unknown", nullptr};

std::span<const ModelDescriptor* const> ModelTable() { return Models; }

const ModelDescriptor* LookupModel(std::uint8_t modelId) {
  for (const ModelDescriptor* model : Models) {
    if (model->id == modelId) return model;
  }
  return &UnknownModel;
}
