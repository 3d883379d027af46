// What the user reads of ports and devices: port names as drivers fill them,
// the Ports page's items, and the Flash page's device line and details,
// formatted from the records the transport and the scan keep.
#include "device/device_records.h"
#include "tests/midi/transport_fixture.h"

namespace {

const std::string Upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345",
                  Lower = "abcdefghijklmnopqrstuvwxyz012345";

std::string Item(const MidiPort* port, std::size_t room = 100) {
  std::string text(room + 1, '#');
  const texts::PortFacts facts = port != nullptr ? DescribePort(*port) : texts::PortFacts{};
  texts::FormatPortItem(port != nullptr ? &facts : nullptr, std::span(text.data(), room));
  return text.c_str();
}

std::string LineAndDetails(const device::DetectedDevice& device) {
  char line[texts::DeviceLineSize], details[texts::DeviceDetailsSize];
  texts::FormatDeviceLine(device::DescribeDevice(device), line);
  texts::FormatDeviceDetails(device::DescribeDevice(device), "1.23 beta", details);
  return std::string(line) + " | " + details;
}

// Names of 32 characters fill the driver's field without a terminator.
TEST_F(TransportTest, PortsAndDevicesAsTheUserReadsThem) {
  world.midi.AddInput({.name = "Tarvonic In", .wMid = 0x41, .wPid = 0x102});
  world.midi.AddInput({.name = Upper, .wMid = 0x131, .wPid = 1});  // a USB interface
  world.midi.AddOutput({.name = "Tarvonic Out", .wMid = 0x131, .wPid = 1});
  world.midi.AddOutput({.name = Lower, .wMid = 0xA7, .wPid = 0xB0C, .wTechnology = 0x4141});
  Init();
  // A name is read no further than its 32 bytes (the "AA" of wTechnology
  // follows), and copied into exactly the room given, zeros behind it.
  EXPECT_EQ(PortName(Out(1)), Lower);
  for (const auto& [room, copied] : {std::pair<std::size_t, std::string>{40, Lower},
                                     {20, Lower.substr(0, 19)},
                                     {1, ""},
                                     {0, "#"}}) {
    std::string text(room + 1, '#');
    EXPECT_EQ(PortCopyName(Out(1), text.data(), room), text.data());
    EXPECT_EQ(text.c_str(), copied) << room;
    EXPECT_EQ(text.find_first_not_of('\0', std::min(room, copied.size())), room) << room;
  }
  EXPECT_EQ(Item(In(0)), "In00[0041 0102]: Tarvonic In");
  EXPECT_EQ(Item(Out(1)), "Out01[00A7 0B0C]: " + Lower.substr(0, 31));
  EXPECT_EQ(Item(Out(1), 5), "Out0") << "cut to the room given";
  EXPECT_EQ(Item(nullptr), "Nope");

  // Only the input's USB interface brings the note: the replies travel on it.
  device::DetectedDevice tarvonic{.modelId = 0x41,
                                  .version = "1.90",
                                  .model = device::LookupModel(0x41),
                                  .inputPort = In(0),
                                  .outputPort = Out(0)};
  EXPECT_EQ(LineAndDetails(tarvonic),
            "Tarvonic[41] V1.90 at Tarvonic In Ch 1 | Device Tarvonic V1.90\r\nMIDI-Input: "
            "Tarvonic In\r\n"
            "MIDI-Output: Tarvonic Out\r\nUpdate to Version 1.23 beta");
  device::DetectedDevice unknown{
      .modelId = 0x2B, .channel = 15, .version = "1.ff", .inputPort = In(1), .outputPort = Out(1)};
  EXPECT_EQ(
      LineAndDetails(unknown),
      "Unknown[2B] V1.ff at ABCDEFGHIJKLMNOPQRS Ch 16 | Device Unknown V1.ff\r\n"
      "MIDI-Input: ABCDEFGHIJKLMNOPQRSTUVWXYZ012\r\nMIDI-Output: abcdefghijklmnopqrstuvwxyz012\r\n"
      "Update to Version 1.23 beta\r\nFlashing over USB not supported!");
}

}  // namespace
