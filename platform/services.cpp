#include "platform/services.h"

namespace platform {
namespace {
Services g_services;
}

void Install(const Services& services) { g_services = services; }
const Services& Installed() { return g_services; }

}  // namespace platform
