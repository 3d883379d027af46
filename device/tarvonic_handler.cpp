// The Tarvonic's handler and its boot-loader check. The check asks for the
// instrument's state: only the boot loader answers with a status reply, so
// any status reply, whatever its code, proves the instrument is ready.
#include "device/tarvonic_handler.h"

#include "device/messages.h"
#include "device/upload_engine.h"
#include "image/firmware_image.h"
#include "midi/listeners.h"
#include "midi/sysex_output.h"
#include "platform/services.h"
#include "progress/progress_window.h"
#include "texts/user_texts.h"

namespace device {

using image::LoadedFirmwareImage;
using image::TrackBytes;

namespace {
constexpr std::int32_t CheckBudgetMs = 1000;
constexpr std::uint32_t CheckStepMs = 100;
}  // namespace

std::int32_t CheckBootLoader(platform::WindowHandle owner, DetectedDevice* device) {
  StateReply state;
  StatusReply status;
  midi::SysExListener* stateListener =
      midi::AddListener(device->inputPort, OnStateReply, &state, StateReplyPattern.data());
  midi::SysExListener* statusListener =
      midi::AddListener(device->inputPort, OnStatusReply, &status, StatusReplyPattern.data());
  progress::ProgressWindow* window = progress::OpenProgressWindow(platform::Installed().module, 0,
                                                                  owner, texts::CheckingStateText);
  state.received.store(0, std::memory_order_relaxed);
  status.Clear();

  midi::SendSysEx(device->outputPort, StateRequest.data(),
                  static_cast<std::int32_t>(StateRequest.size()));

  // Escape held down ends the wait early: the user gave up on an instrument
  // that does not answer.
  std::int32_t budget = CheckBudgetMs;
  do {
    if (status.Read().received) break;
    if (platform::Ui().EscapeHeld()) break;
    platform::Time().Sleep(CheckStepMs);
    budget -= static_cast<std::int32_t>(CheckStepMs);
  } while (budget > 0);

  midi::RemoveListener(stateListener);
  midi::RemoveListener(statusListener);
  progress::CloseProgressWindow(window, 0);

  if (status.Read().received) return 1;
  platform::Ui().MessageBox(owner, texts::WrongStateText, texts::WrongStateCaption,
                            platform::BoxOk);
  return 0;
}

int OnStateReply(midi::MidiBuffer*, midi::MidiPort*, void* reply, const std::uint8_t* captures,
                 int count) {
  if (count < 3) return midi::ListenerKeep;  // the pattern always captures three
  auto* r = static_cast<StateReply*>(reply);
  r->data[0] = captures[1];
  r->data[1] = captures[2];
  r->received.store(1, std::memory_order_release);
  return midi::ListenerKeep;
}

std::int32_t TarvonicHandler(platform::WindowHandle owner, DetectedDevice* device,
                             std::int32_t operation, std::int32_t, std::int32_t) {
  switch (operation) {
    case ModelOpCheckState:
      return CheckBootLoader(owner, device);
    case ModelOpUpload:
      switch (UploadTrack(owner, TrackBytes(LoadedFirmwareImage()), device)) {
        case UploadResult::Complete: return 1;
        case UploadResult::InterfaceLost: return ModelUploadLost;
        default: return 0;
      }
    default:
      return 0;
  }
}

}  // namespace device
