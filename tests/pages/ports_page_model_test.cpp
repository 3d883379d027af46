// The Ports page's items: order, texts, images and the enabling rules.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/pages/port_fixture.h"
#include "texts/user_texts.h"
#include "ui/ports_page_model.h"

using namespace ui;

namespace {

class PortsPageModelTest : public PortListTest {
 protected:
  static void Format(const MidiPort* port, std::span<char> text) {
    if (port == nullptr) return texts::FormatPortItem(nullptr, text);
    const texts::PortFacts facts = DescribePort(*port);
    texts::FormatPortItem(&facts, text);
  }
  static std::string Text(const MidiPort* port, std::size_t capacity = 260) {
    std::string text(capacity, '#');
    Format(port, std::span(text.data(), capacity));
    return text.c_str();
  }
  static std::vector<int> Images() {
    std::vector<int> images;
    for (const MidiPort* port : PortsInDisplayOrder()) images.push_back(PortImageIndex(port));
    return images;
  }
};

TEST_F(PortsPageModelTest, InputsComeFirstThenOutputsEachInListOrder) {
  // Opening order puts inputs first anyway; the page does not rely on it.
  MidiPort& out1 = AddOutput(1, "Out B");
  MidiPort& in0 = AddInput(0, "In A");
  MidiPort& out0 = AddOutput(0, "Out A");
  MidiPort& in1 = AddInput(1, "In B");
  const std::vector<MidiPort*> expected = {&in0, &in1, &out1, &out0};
  EXPECT_EQ(PortsInDisplayOrder(), expected);
}

TEST_F(PortsPageModelTest, NoPortsNoItems) { EXPECT_TRUE(PortsInDisplayOrder().empty()); }

TEST_F(PortsPageModelTest, ItemTextShowsKindIndexIdentifiersAndName) {
  struct Case {
    bool input;
    std::uint32_t index;
    std::uint16_t mid, pid;
    std::string name;
    std::string expected;
  };
  const Case cases[] = {
      {true, 3, 0x0041, 0x0102, "Tarvonic In", "In03[0041 0102]: Tarvonic In"},
      {false, 3, 0x0041, 0x0102, "Tarvonic Out", "Out03[0041 0102]: Tarvonic Out"},
      {true, 0, 0x0000, 0x0000, "", "In00[0000 0000]: "},
      {false, 123, 0xABCD, 0xFFFF, "x", "Out123[ABCD FFFF]: x"},
      {true, 4095, 0x00a7, 0x0b0c, "y", "In4095[00A7 0B0C]: y"},
      // A name filling all 32 bytes shows its first 31 characters.
      {true, 1, 1, 2, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "In01[0001 0002]: ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
  };
  for (const Case& c : cases) {
    const MidiPort& port = c.input ? AddInput(c.index, c.name, c.mid, c.pid)
                                   : AddOutput(c.index, c.name, c.mid, c.pid);
    EXPECT_EQ(Text(&port), c.expected);
  }
}

TEST_F(PortsPageModelTest, ItemTextIsCutToTheRequestsBuffer) {
  const MidiPort& port = AddInput(3, "Tarvonic In", 0x41, 0x102);
  EXPECT_EQ(Text(&port, 5), "In03");
  EXPECT_EQ(Text(&port, 1), "");
  std::string untouched = "#";
  Format(&port, std::span(untouched.data(), 0));
  EXPECT_EQ(untouched, "#");
}

TEST_F(PortsPageModelTest, WithoutAPortTheItemReadsNopeWithImage2) {
  EXPECT_EQ(Text(nullptr), "Nope");
  EXPECT_EQ(PortImageIndex(nullptr), 2);
}

TEST_F(PortsPageModelTest, ImageByKindAndState) {
  AddInput(0, "a", 0, 0, true);
  AddInput(1, "b", 0, 0, false);
  AddOutput(0, "c", 0, 0, true);
  AddOutput(1, "d", 0, 0, false);
  EXPECT_EQ(Images(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(PortsPageModelTest, ToggleFlipsOnlyTheEnabledBit) {
  MidiPort& in = AddInput(0, "a");
  in.flags.fetch_or(PortClosing);
  TogglePortEnabled(in);
  EXPECT_EQ(in.flags.load(), PortInput | PortClosing);
  EXPECT_EQ(PortImageIndex(&in), 1);
  TogglePortEnabled(in);
  EXPECT_EQ(in.flags.load(), PortInput | PortClosing | PortEnabled);
  EXPECT_EQ(PortImageIndex(&in), 0);
}

TEST_F(PortsPageModelTest, DisableAllAndEnableAllReachEveryPort) {
  AddInput(0, "a", 0, 0, true);
  AddInput(1, "b", 0, 0, false);
  AddOutput(0, "c", 0, 0, false);
  AddOutput(1, "d", 0, 0, true);
  SetAllPortsEnabled(false);
  EXPECT_EQ(Images(), (std::vector<int>{1, 1, 3, 3}));
  SetAllPortsEnabled(true);
  EXPECT_EQ(Images(), (std::vector<int>{0, 0, 2, 2}));
  for (const MidiPort* port : PortsInDisplayOrder()) {
    EXPECT_EQ(port->flags.load() & ~(PortInput | PortEnabled), 0u) << "no other bit set";
  }
}

TEST_F(PortsPageModelTest, OnlyPortsOfThePortListAreTakenForPorts) {
  const MidiPort& listed = AddInput(0, "a");
  MidiPort stranger{};
  EXPECT_TRUE(IsListedPort(&listed));
  EXPECT_FALSE(IsListedPort(&stranger));
  EXPECT_FALSE(IsListedPort(nullptr));
}

}  // namespace
