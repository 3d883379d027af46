// The device protocol end to end: the transport on the simulated driver and
// the virtual clock, virtual Tarvonics on its ports, and what the host sent
// and the user saw, read back case by case.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "device/device_records.h"
#include "device/device_scan.h"
#include "device/flash_workflow.h"
#include "device/keystream.h"
#include "device/messages.h"
#include "device/tarvonic_handler.h"
#include "device/upload_engine.h"
#include "emulator/virtual_tarvonic.h"
#include "image/firmware_image.h"
#include "tests/device/test_images.h"
#include "tests/midi/transport_fixture.h"

using namespace device;
using Strings = std::vector<std::string>;

class DeviceTest : public TransportTest {
 protected:
  // The instruments go before the transport and the world: they only hand
  // bytes to the driver, which outlives them.
  ~DeviceTest() override { FreeDeviceList(); }

  void Init() {
    TransportTest::Init();
    NextCase();
  }
  // The next case of a table: the instruments go off the outputs, and what
  // was sent and shown so far is left out of Sent, Texts and Boxes.
  void NextCase() {
    for (const auto& instrument : instruments_) world.midi.Detach(instrument.get());
    sentMark_ = world.midi.Sent(0).size();
    eventMark_ = world.progress.Events().size();
    boxMark_ = world.dialogs.Boxes().size();
  }
  emulator::VirtualTarvonic& AddTarvonic(emulator::TarvonicConfig config, std::vector<std::uint32_t> outputs = {0}) {
    instruments_.push_back(std::make_unique<emulator::VirtualTarvonic>(world.midi, std::move(config)));
    for (const std::uint32_t output : outputs) instruments_.back()->AttachToOutput(output);
    return *instruments_.back();
  }

  // A device record as a scan makes it, for the Tarvonic on input 0, output 0.
  DetectedDevice Device(const char* version = "1.90") {
    DetectedDevice device{.modelId = TarvonicModelId, .model = LookupModel(TarvonicModelId), .inputPort = In(0),
                          .outputPort = Out(0)};
    std::snprintf(device.version, sizeof device.version, "%s", version);
    return device;
  }
  // Makes `file` (which must outlive the test) the program's image.
  static void UseImage(std::span<const std::uint8_t> file) {
    ASSERT_TRUE(image::LoadFirmwareImage(file));
    ASSERT_TRUE(PrepareProbePacket(Track()));
  }
  static std::span<const std::uint8_t> Track() { return image::TrackBytes(image::LoadedFirmwareImage()); }
  static Bytes Probe() { return Bytes(ProbePacket().begin(), ProbePacket().end()); }

  // Every complete SysEx message sent to output 0 in this case, and when
  // each began.
  std::vector<Bytes> Sent(std::vector<std::uint32_t>* times = nullptr) const {
    std::vector<Bytes> messages;
    const std::vector<sim::SentChunk> chunks = world.midi.Sent(0);
    for (std::size_t i = sentMark_; i < chunks.size(); ++i) {
      for (const std::uint8_t byte : chunks[i].bytes) {
        if (byte == 0xF0) {
          messages.emplace_back();
          if (times != nullptr) times->push_back(chunks[i].sentAt);
        }
        if (!messages.empty()) messages.back().push_back(byte);
      }
    }
    return messages;
  }
  // Status texts, and the boxes' captions, shown in this case.
  Strings Texts() const {
    Strings texts;
    const std::vector<progress::ProgressEvent> events = world.progress.Events();
    for (std::size_t i = eventMark_; i < events.size(); ++i)
      if (events[i].kind == progress::ProgressEvent::Kind::Text) texts.push_back(events[i].text);
    return texts;
  }
  std::vector<sim::BoxRecord> Boxes() const {
    const std::vector<sim::BoxRecord> all = world.dialogs.Boxes();
    return std::vector<sim::BoxRecord>(all.begin() + static_cast<std::ptrdiff_t>(boxMark_), all.end());
  }
  Strings Captions() const {
    Strings captions;
    for (const sim::BoxRecord& box : Boxes()) captions.push_back(box.caption);
    return captions;
  }

  std::vector<std::unique_ptr<emulator::VirtualTarvonic>> instruments_;
  std::size_t sentMark_ = 0, eventMark_ = 0, boxMark_ = 0;
};

// A scripted decision: `fault`, for the packets `when` picks.
inline emulator::FaultScript Fault(emulator::PacketFault fault, std::function<bool(const emulator::PacketView&)> when) {
  return [=](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
    if (!when(p)) return std::nullopt;
    return emulator::FaultDecision{.fault = fault};
  };
}
// Answers to packets with that command wait `delayMs`; the rest come at once.
inline emulator::FaultScript AnswerAfter(std::uint8_t command, std::uint32_t delayMs) {
  return [=](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
    if (p.command != command) return std::nullopt;
    return emulator::FaultDecision{.delayMs = delayMs};
  };
}
