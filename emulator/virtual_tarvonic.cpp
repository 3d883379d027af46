#include "emulator/virtual_tarvonic.h"

#include <algorithm>

#include "device/messages.h"

namespace emulator {

using sim::SimMidiDriver;

// The instrument speaks the device protocol from the other end.
using namespace device;
namespace {

constexpr std::uint8_t SysExStart = 0xF0;
constexpr std::uint8_t SysExEnd = 0xF7;
constexpr std::uint8_t AllDevices = 0x7F;
constexpr std::uint8_t UniversalNonRealTime = 0x7E;
constexpr std::uint8_t GeneralInformation = 0x06;
constexpr std::uint8_t IdentityRequestId = 0x01;
constexpr std::uint8_t IdentityReplyId = 0x02;
constexpr std::uint8_t ModelQueryId = 0x0F;
constexpr std::uint8_t StatusReplyId = 0x40;
constexpr std::size_t ModelQueryLength = 8;
// F0, MFR, device, model, command, F7: the shortest message of the upload.
constexpr std::size_t UploadPacketMinimum = 8;

bool HasMfr(std::span<const std::uint8_t> m) {
  return m.size() > 4 && m[1] == Mfr[0] && m[2] == Mfr[1] && m[3] == Mfr[2];
}

std::uint8_t Low7(std::uint32_t value) { return static_cast<std::uint8_t>(value & 0x7F); }

}  // namespace

void VirtualTarvonic::Reply::Append(std::span<const std::uint8_t> part) {
  const std::size_t n = std::min(part.size(), bytes.size() - length);
  std::copy_n(part.begin(), n, bytes.begin() + static_cast<std::ptrdiff_t>(length));
  length += n;
}

VirtualTarvonic::VirtualTarvonic(SimMidiDriver& driver, TarvonicConfig config)
    : driver_(driver), config_(std::move(config)), inBootLoader_(config_.inBootLoader) {
  data_.reserve(config_.flashCapacity);
  header_.reserve(plain_.size());
  last_.reserve(2056);
  probeForm_.reserve(2056);
}

VirtualTarvonic::~VirtualTarvonic() { driver_.Detach(this); }

void VirtualTarvonic::AttachToOutput(std::uint32_t output) { driver_.AttachToOutput(output, this); }

void VirtualTarvonic::SetFaults(const FaultRates& rates) {
  std::lock_guard lock(mutex_);
  faults_.SetRates(rates);
}

void VirtualTarvonic::SetFaultScript(FaultScript script) {
  std::lock_guard lock(mutex_);
  faults_.SetScript(std::move(script));
}

void VirtualTarvonic::SetInBootLoader(bool on) {
  std::lock_guard lock(mutex_);
  inBootLoader_ = on;
}

std::vector<std::uint8_t> VirtualTarvonic::Firmware() const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> firmware(header_);
  firmware.insert(firmware.end(), data_.begin(), data_.end());
  return firmware;
}

std::vector<std::uint8_t> VirtualTarvonic::HeaderPayload() const {
  std::lock_guard lock(mutex_);
  return header_;
}

std::vector<std::uint8_t> VirtualTarvonic::DataArea() const {
  std::lock_guard lock(mutex_);
  return data_;
}

TarvonicStats VirtualTarvonic::Stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

void VirtualTarvonic::OnSysEx(std::uint32_t, std::span<const std::uint8_t> message,
                              std::uint32_t at) {
  if (message.size() < 2 || message.front() != SysExStart || message.back() != SysExEnd) return;
  Reply reply;
  {
    std::lock_guard lock(mutex_);
    HandleScanMessage(message, reply);
    if (reply.length == 0 && inBootLoader_ && message.size() >= UploadPacketMinimum &&
        HasMfr(message) && message[5] == config_.modelId &&
        (message[4] == AllDevices || message[4] == config_.deviceId)) {
      // A boot loader busy with the last packet does not listen.
      if (busy_ && !config_.hearsWhileBusy && platform::TickDiff(at, busyUntil_) < 0) {
        ++stats_.lostWhileBusy;
        return;
      }
      HandleUploadPacket(message, at, reply);
    }
  }
  if (reply.length > 0) Send(reply);
}

void VirtualTarvonic::HandleScanMessage(std::span<const std::uint8_t> m, Reply& reply) {
  reply.delayMs = config_.replyDelayMs;
  if (m.size() == 6 && m[1] == UniversalNonRealTime && m[3] == GeneralInformation &&
      m[4] == IdentityRequestId && (m[2] == AllDevices || m[2] == config_.deviceId)) {
    if (!config_.answersIdentity) return;
    const std::uint8_t id[] = {SysExStart,
                               UniversalNonRealTime,
                               config_.deviceId,
                               GeneralInformation,
                               IdentityReplyId,
                               Mfr[0],
                               Mfr[1],
                               Mfr[2],
                               config_.modelId,
                               0,
                               0,
                               0};
    reply.Append(id);
    for (const char c : config_.version) reply.Append(std::array{static_cast<std::uint8_t>(c)});
    reply.Append(std::array{SysExEnd});
    return;
  }
  if (m.size() == ModelQueryLength && HasMfr(m) && m[5] == ModelQueryId &&
      config_.answersModelQuery && m[4] == *config_.answersModelQuery) {
    const std::uint8_t answer[] = {SysExStart,      Mfr[0],       Mfr[1], Mfr[2],
                                   config_.modelId, ModelQueryId, m[4],   SysExEnd};
    reply.Append(answer);
  }
}

void VirtualTarvonic::StatusReply(Reply& reply, std::uint8_t code) const {
  const std::uint8_t status[] = {SysExStart,
                                 Mfr[0],
                                 Mfr[1],
                                 Mfr[2],
                                 AllDevices,
                                 config_.modelId,
                                 StatusReplyId,
                                 Low7(code),
                                 Low7(stats_.accepted >> 7),
                                 Low7(stats_.accepted),
                                 SysExEnd};
  reply.Append(status);
}

void VirtualTarvonic::Send(const Reply& reply) {
  const std::span<const std::uint8_t> bytes(reply.bytes.data(), reply.length);
  const bool normal = reply.route == Reply::Route::Normal || reply.route == Reply::Route::Both;
  const bool stray = reply.route == Reply::Route::Stray || reply.route == Reply::Route::Both;
  if (normal) {
    for (const std::uint32_t input : config_.replyInputs)
      driver_.SendToInput(input, bytes, reply.delayMs);
  }
  if (stray && config_.strayInput) driver_.SendToInput(*config_.strayInput, bytes, reply.delayMs);
}

}  // namespace emulator
