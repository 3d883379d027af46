// The Flash page's texts: the device list's lines and the details box.
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "tests/pages/port_fixture.h"
#include "device/device_records.h"
#include "texts/user_texts.h"

using namespace device;
using namespace midi;
using namespace texts;

namespace {

const ModelDescriptor Tarvonic = {0x41, "Tarvonic", nullptr};
const ModelDescriptor Unknown = {0x00, "Unknown", nullptr};

class FlashPageTextTest : public PortListTest {
 protected:
  DetectedDevice Device(const MidiPort& input, const MidiPort& output, std::uint8_t modelId,
                        std::uint8_t channel, const char* version, const ModelDescriptor& model) {
    DetectedDevice device;
    device.modelId = modelId;
    device.channel = channel;
    std::snprintf(device.version, sizeof device.version, "%s", version);
    device.model = &model;
    device.inputPort = const_cast<MidiPort*>(&input);
    device.outputPort = const_cast<MidiPort*>(&output);
    return device;
  }
  static std::string Line(const DetectedDevice& device) {
    char line[DeviceLineSize];
    FormatDeviceLine(DescribeDevice(device), line);
    return line;
  }
  static std::string Details(const DetectedDevice& device, const char* imageVersion = "1.91") {
    char details[DeviceDetailsSize];
    FormatDeviceDetails(DescribeDevice(device), imageVersion, details);
    return details;
  }
};

TEST_F(FlashPageTextTest, LineNamesModelIdVersionInputAndOneBasedChannel) {
  struct Case {
    std::uint8_t modelId;
    std::uint8_t channel;
    const char* version;
    const ModelDescriptor* model;
    std::string expected;
  };
  const MidiPort& in = AddInput(0, "Tarvonic In");
  const MidiPort& out = AddOutput(0, "Tarvonic Out");
  const Case cases[] = {
      {0x41, 0, "1.90", &Tarvonic, "Tarvonic[41] V1.90 at Tarvonic In Ch 1"},
      {0x41, 9, "2.03", &Tarvonic, "Tarvonic[41] V2.03 at Tarvonic In Ch 10"},
      // Found by a model query: channel 15, version 1.ff, a model byte the
      // table does not know, in upper-case hexadecimal.
      {0x2B, 15, "1.ff", &Unknown, "Unknown[2B] V1.ff at Tarvonic In Ch 16"},
      {0x0A, 0, "1.00", &Unknown, "Unknown[0A] V1.00 at Tarvonic In Ch 1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Line(Device(in, out, c.modelId, c.channel, c.version, *c.model)), c.expected);
  }
}

TEST_F(FlashPageTextTest, LongPortNamesAreCutTo19InTheLineAnd29InTheDetails) {
  // 32 characters, as a driver may fill the name without a terminator.
  const MidiPort& in = AddInput(0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
  const MidiPort& out = AddOutput(0, "abcdefghijklmnopqrstuvwxyz012345");
  const DetectedDevice device = Device(in, out, 0x41, 0, "1.90", Tarvonic);
  EXPECT_EQ(Line(device), "Tarvonic[41] V1.90 at ABCDEFGHIJKLMNOPQRS Ch 1");
  EXPECT_EQ(Details(device),
            "Device Tarvonic V1.90\r\n"
            "MIDI-Input: ABCDEFGHIJKLMNOPQRSTUVWXYZ012\r\n"
            "MIDI-Output: abcdefghijklmnopqrstuvwxyz012\r\n"
            "Update to Version 1.91");
}

TEST_F(FlashPageTextTest, DetailsEndWithTheUsbNoteOnlyForAnInputOfThatInterface) {
  struct Case {
    std::uint16_t inMid, inPid, outMid, outPid;
    bool note;
  };
  const Case cases[] = {
      {0x0131, 0x0001, 0x0000, 0x0000, true},
      {0x0131, 0x0002, 0x0000, 0x0000, false},
      {0x0132, 0x0001, 0x0000, 0x0000, false},
      {0x0001, 0x0131, 0x0000, 0x0000, false},
      // The output alone does not count.
      {0x0000, 0x0000, 0x0131, 0x0001, false},
  };
  std::uint32_t index = 0;
  for (const Case& c : cases) {
    const MidiPort& in = AddInput(index, "USB In", c.inMid, c.inPid);
    const MidiPort& out = AddOutput(index, "USB Out", c.outMid, c.outPid);
    ++index;
    const std::string base =
        "Device Tarvonic V1.90\r\nMIDI-Input: USB In\r\nMIDI-Output: USB Out\r\n"
        "Update to Version 1.91";
    EXPECT_EQ(Details(Device(in, out, 0x41, 0, "1.90", Tarvonic)),
              c.note ? base + "\r\nFlashing over USB not supported!" : base)
        << std::hex << c.inMid << " " << c.inPid << " " << c.outMid << " " << c.outPid;
  }
}

TEST_F(FlashPageTextTest, DetailsCarryTheImageVersionAsGiven) {
  const MidiPort& in = AddInput(0, "In");
  const MidiPort& out = AddOutput(0, "Out");
  const DetectedDevice device = Device(in, out, 0x41, 3, "1.9a", Tarvonic);
  EXPECT_EQ(Details(device, "1.23 beta"),
            "Device Tarvonic V1.9a\r\nMIDI-Input: In\r\nMIDI-Output: Out\r\nUpdate to Version 1.23 beta");
  EXPECT_EQ(Details(device, ""),
            "Device Tarvonic V1.9a\r\nMIDI-Input: In\r\nMIDI-Output: Out\r\nUpdate to Version ");
}

TEST_F(FlashPageTextTest, ADeviceWithoutModelOrPortsStillFormatsWithinItsBuffers) {
  // As a listener makes it, before the scan's model lookup: it reads like a
  // device of an unknown model, which is what the lookup will make it.
  DetectedDevice device;
  std::snprintf(device.version, sizeof device.version, "1.ff");
  EXPECT_EQ(Line(device), "Unknown[00] V1.ff at  Ch 1");
  EXPECT_EQ(Details(device, ""),
            "Device Unknown V1.ff\r\nMIDI-Input: \r\nMIDI-Output: \r\nUpdate to Version ");
}

}  // namespace
