// The Tarvonic's handler and its boot-loader check. The check asks for the
// instrument's state: only the boot loader answers with a status reply, so
// any status reply, whatever its code, proves the instrument is ready.
#include "device/tarvonic_handler.h"

#include "device/messages.h"
#include "device/reply_wait.h"
#include "image/firmware_image.h"
#include "midi/listeners.h"
#include "midi/sysex_output.h"
#include "platform/services.h"
#include "ui/progress_window.h"

namespace {
constexpr std::int32_t CheckBudgetMs = 1000;
constexpr std::uint32_t CheckStepMs = 100;
}  // namespace

std::int32_t CheckBootLoader(platform::WindowHandle owner, DetectedDevice* device) {
  StateReply state;
  StatusReply status;
  SysExListener* stateListener =
      AddListener(device->inputPort, OnStateReply, &state, StateReplyPattern.data());
  SysExListener* statusListener =
      AddListener(device->inputPort, OnStatusReply, &status, StatusReplyPattern.data());
  ProgressWindow* window =
      OpenProgressWindow(platform::Installed().module, 0, owner, "Checking Device State...");
  state.received.store(0, std::memory_order_relaxed);
  status.received.store(0, std::memory_order_relaxed);

  SendSysEx(device->outputPort, StateRequest.data(), static_cast<std::int32_t>(StateRequest.size()));

  // Escape held down ends the wait early: the user gave up on an instrument
  // that does not answer.
  std::int32_t budget = CheckBudgetMs;
  do {
    if (status.received.load(std::memory_order_acquire) != 0) break;
    if (platform::Ui().EscapeHeld()) break;
    platform::Time().Sleep(CheckStepMs);
    budget -= static_cast<std::int32_t>(CheckStepMs);
  } while (budget > 0);

  RemoveListener(stateListener);
  RemoveListener(statusListener);
  CloseProgressWindow(window, 0);

  if (status.received.load(std::memory_order_acquire) != 0) return 1;
  platform::Ui().MessageBox(owner,
                            "Device not in Bootloader Mode!\r\n"
                            "Please power cycle the unit holding START and FX-BYPASS pressed\r\n"
                            "and then restart this application!",
                            "Warning: Wrong State", platform::BoxOk);
  return 0;
}

std::int32_t TarvonicHandler(platform::WindowHandle owner, DetectedDevice* device,
                             std::int32_t operation, std::int32_t, std::int32_t) {
  switch (operation) {
    case ModelOpCheckState:
      return CheckBootLoader(owner, device);
    case ModelOpUpload:
      return UploadTrack(owner, TrackBytes(LoadedFirmwareImage()), device) ? 1 : 0;
    default:
      return 0;
  }
}
