// The Ports page's rules without the window: the order of its items, each
// item's image, and enabling and disabling ports one by one or all at once.
#include "tests/midi/transport_fixture.h"
#include "ui/ports_page_model.h"

using namespace ui;

TEST_F(TransportTest, PortsPageItemsImagesAndEnablingRules) {
  AddPorts(2, 2);
  Init();
  MidiPort *inA = In(0), *inB = In(1), *outA = Out(0), *outB = Out(1);
  // The transport lists its inputs first; the page does not rely on it.
  outA->next = nullptr;
  outB->next = PortList;
  PortList = outB;
  inB->flags ^= PortEnabled;
  outB->flags ^= PortEnabled;
  EXPECT_EQ(PortsInDisplayOrder(), (std::vector{inA, inB, outB, outA}));
  const auto images = [] {
    std::vector<int> shown;
    for (const MidiPort* port : PortsInDisplayOrder()) shown.push_back(PortImageIndex(port));
    return shown;
  };
  EXPECT_EQ(images(), (std::vector{0, 1, 3, 2}));
  EXPECT_EQ(PortImageIndex(nullptr), 2);

  inB->flags |= PortClosing;
  TogglePortEnabled(*inB);
  TogglePortEnabled(*outA);
  EXPECT_EQ(images(), (std::vector{0, 0, 3, 3}));
  TogglePortEnabled(*outA);
  SetAllPortsEnabled(false);
  EXPECT_EQ(images(), (std::vector{1, 1, 3, 3}));
  SetAllPortsEnabled(true);
  EXPECT_EQ(images(), (std::vector{0, 0, 2, 2}));
  EXPECT_EQ(inB->flags.load(), PortInput | PortEnabled | PortClosing)
      << "only the enabled bit changes";

  // Item data that is not a port of the list is never taken for one.
  MidiPort stranger{};
  EXPECT_TRUE(IsListedPort(outB));
  EXPECT_FALSE(IsListedPort(&stranger));
  EXPECT_FALSE(IsListedPort(nullptr));
}
