// The device protocol end to end: the transport on the simulated driver and
// the virtual clock, virtual Tarvonics on its ports, and helpers that read
// back what the host sent and what the progress windows and boxes showed.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "device/device_records.h"
#include "device/device_scan.h"
#include "device/flash_workflow.h"
#include "device/tarvonic_handler.h"
#include "device/upload_engine.h"
#include "emulator/virtual_tarvonic.h"
#include "image/firmware_image.h"
#include "tests/device/test_images.h"
#include "tests/midi/transport_fixture.h"

using namespace image;
using namespace device;
using namespace emulator;

class DeviceTest : public TransportTest {
 protected:
  // The instruments go before the transport and the world: they only ever
  // hand bytes to the driver, which outlives them.
  ~DeviceTest() override { FreeDeviceList(); }

  // Starts the transport; what its start showed is left out of StatusTexts.
  void Init() {
    TransportTest::Init();
    initWindows_ = world.progress.Started();
  }

  emulator::VirtualTarvonic& AddTarvonic(emulator::TarvonicConfig config,
                                         std::vector<std::uint32_t> outputs) {
    instruments_.push_back(
        std::make_unique<emulator::VirtualTarvonic>(world.midi, std::move(config)));
    for (const std::uint32_t output : outputs) instruments_.back()->AttachToOutput(output);
    return *instruments_.back();
  }

  // Takes every instrument off the outputs, for the next case of a table.
  void DetachAll() {
    for (const auto& instrument : instruments_) world.midi.Detach(instrument.get());
  }

  // A device record as a scan would have made it, for the Tarvonic.
  DetectedDevice Device(std::uint32_t input, std::uint32_t output, const char* version = "1.90") {
    DetectedDevice device;
    device.modelId = TarvonicModelId;
    std::snprintf(device.version, sizeof device.version, "%s", version);
    device.model = LookupModel(TarvonicModelId);
    device.inputPort = In(input);
    device.outputPort = Out(output);
    return device;
  }

  // Makes `file` the program's image (it must outlive the test) and its
  // header packet the probe.
  static void UseImage(const Bytes& file) {
    ASSERT_TRUE(LoadFirmwareImage(std::span<const std::uint8_t>(file)));
    ASSERT_TRUE(PrepareProbePacket(TrackBytes(LoadedFirmwareImage())));
  }
  static void UseEmbeddedImage() {
    ASSERT_TRUE(LoadFirmwareImage(test_images::Embedded()));
    ASSERT_TRUE(PrepareProbePacket(TrackBytes(LoadedFirmwareImage())));
  }

  // Every complete SysEx message the host sent to an output, in order.
  std::vector<Bytes> SentMessages(std::uint32_t output) const {
    std::vector<Bytes> messages;
    Bytes current;
    for (const sim::SentChunk& chunk : world.midi.Sent(output)) {
      for (const std::uint8_t byte : chunk.bytes) {
        if (byte == 0xF0) current.clear();
        current.push_back(byte);
        if (byte == 0xF7) messages.push_back(current);
      }
    }
    return messages;
  }
  // When each message's first chunk went out.
  std::vector<std::uint32_t> SentTimes(std::uint32_t output) const {
    std::vector<std::uint32_t> times;
    for (const sim::SentChunk& chunk : world.midi.Sent(output)) {
      if (!chunk.bytes.empty() && chunk.bytes.front() == 0xF0) times.push_back(chunk.sentAt);
    }
    return times;
  }

  // Status texts shown in the progress windows opened after Init, in order.
  std::vector<std::string> StatusTexts() const {
    std::vector<std::string> texts;
    for (const progress::ProgressEvent& e : world.progress.Events()) {
      if (e.kind == progress::ProgressEvent::Kind::Text && e.window > initWindows_)
        texts.push_back(e.text);
    }
    return texts;
  }
  std::vector<std::string> BoxCaptions() const {
    std::vector<std::string> captions;
    for (const sim::BoxRecord& box : world.dialogs.Boxes()) captions.push_back(box.caption);
    return captions;
  }

  std::vector<std::unique_ptr<emulator::VirtualTarvonic>> instruments_;
  int initWindows_ = 0;
};

// A scripted decision: this fault for this packet.
inline std::optional<emulator::FaultDecision> With(emulator::PacketFault fault) {
  emulator::FaultDecision decision;
  decision.fault = fault;
  return decision;
}

// A handler that records every operation it is asked for and passes it on.
struct HandlerLog {
  static inline std::vector<std::int32_t> operations;
  static std::int32_t Handler(platform::WindowHandle owner, DetectedDevice* device,
                              std::int32_t operation, std::int32_t a, std::int32_t b) {
    operations.push_back(operation);
    return TarvonicHandler(owner, device, operation, a, b);
  }
  static int Count(std::int32_t operation) {
    int n = 0;
    for (const std::int32_t op : operations) n += op == operation ? 1 : 0;
    return n;
  }
};
