#include "device/flash_workflow.h"

#include <array>
#include <cstdarg>
#include <cstdio>

#include "image/firmware_image.h"
#include "midi/port_registry.h"
#include "platform/services.h"
#include "texts/user_texts.h"

namespace device {

using image::LoadedFirmwareImage;

namespace {

constexpr std::uint32_t OkCancelDefaultCancel = platform::BoxOkCancel | platform::BoxDefButton2;

bool g_running = false;

// Marks the workflow as running for the lifetime of one call.
class RunningMark {
 public:
  RunningMark() { g_running = true; }
  ~RunningMark() { g_running = false; }
  RunningMark(const RunningMark&) = delete;
  RunningMark& operator=(const RunningMark&) = delete;
};

std::int32_t Call(ModelHandler handler, platform::WindowHandle owner, DetectedDevice* device,
                  ModelOp operation) {
  return handler(owner, device, operation, 0, 0);
}

}  // namespace

bool FlashWorkflowRunning() { return g_running; }

int ShowFormattedMessage(std::uint32_t flags, const char* caption, const char* format, ...) {
  char text[5000];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return platform::Ui().MessageBox(nullptr, text, caption, flags);
}

int CompareVersions(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const auto x = static_cast<unsigned char>(*a);
    const auto y = static_cast<unsigned char>(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

// The image's version as every box shows it: marked when it is the
// development image.
struct VersionLabel {
  std::array<char, texts::VersionLabelSize> text{};
  VersionLabel() {
    const image::FirmwareImage& loaded = LoadedFirmwareImage();
    texts::FormatVersionLabel(loaded.version, loaded.development, text);
  }
  const char* c_str() const { return text.data(); }
};

bool ConfirmDevelopmentImage() {
  if (!LoadedFirmwareImage().development) return true;
  return ShowFormattedMessage(OkCancelDefaultCancel, texts::DevelopmentCaption,
                              texts::DevelopmentFormat, LoadedFirmwareImage().version) ==
         platform::IdOk;
}

std::int32_t RunFlashWorkflow(platform::WindowHandle owner, DetectedDevice* device) {
  if (device == nullptr || device->model == nullptr || device->model->handler == nullptr) return 0;
  // Re-entry from the page while one of our boxes is up would run a second
  // flash on the same instrument inside the first.
  if (g_running) return 0;
  RunningMark running;
  // An interface plugged back in since the scan: its ports are opened again
  // in the records the device names.
  midi::ReopenLostPorts();
  const ModelHandler handler = device->model->handler;
  const char* imageVersion = LoadedFirmwareImage().version;  // compared
  const VersionLabel shown;

  Call(handler, owner, device, ModelOpFlashRequested);

  if (CompareVersions(imageVersion, device->version) <= 0) {
    const int answer = ShowFormattedMessage(OkCancelDefaultCancel, texts::NotNewerCaption,
                                            texts::NotNewerFormat, shown.c_str(), device->version);
    if (answer != platform::IdOk) {
      Call(handler, owner, device, ModelOpAbandon);
      return 0;
    }
  }

  if (Call(handler, owner, device, ModelOpCheckState) != 1) {
    Call(handler, owner, device, ModelOpAbandon);
    return 0;
  }

  const int ready = ShowFormattedMessage(OkCancelDefaultCancel, texts::ReadyCaption,
                                         texts::ReadyFormat, shown.c_str());
  if (ready != platform::IdOk) {
    Call(handler, owner, device, ModelOpAbandon);
    return 0;
  }

  const std::int32_t uploaded = Call(handler, owner, device, ModelOpUpload);
  if (uploaded == 1) {
    ShowFormattedMessage(platform::BoxOk, texts::CompleteCaption, texts::CompleteFormat,
                         shown.c_str());
    return 1;
  }
  if (uploaded == ModelUploadLost) return FlashInterfaceLost;
  // Stopped by the user, not failed: the front end that took the request says
  // what the instrument is left with.
  if (platform::Ui().StopRequested()) return 0;
  ShowFormattedMessage(platform::BoxOk, texts::UploadErrorCaption, "%s", texts::UploadErrorText);
  return 0;
}

}  // namespace device
