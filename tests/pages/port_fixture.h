// Ports linked into PortList for a test, in the order they are added, and
// unlinked again when the test ends.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <string>

#include "midi/transport_records.h"

using namespace midi;

class PortListTest : public ::testing::Test {
 protected:
  ~PortListTest() override { PortList = nullptr; }

  MidiPort& AddInput(std::uint32_t index, const std::string& name, std::uint16_t mid = 0,
                     std::uint16_t pid = 0, bool enabled = true) {
    return Add(index, name, mid, pid, PortInput | (enabled ? PortEnabled : 0));
  }
  MidiPort& AddOutput(std::uint32_t index, const std::string& name, std::uint16_t mid = 0,
                      std::uint16_t pid = 0, bool enabled = true) {
    return Add(index | PortOutputMark, name, mid, pid, enabled ? PortEnabled : 0);
  }

 private:
  MidiPort& Add(std::uint32_t device, const std::string& name, std::uint16_t mid,
                std::uint16_t pid, std::uint32_t flags) {
    MidiPort& port = ports_.emplace_back();
    port.device = device;
    port.flags.store(flags);
    port.caps.in.wMid = mid;
    port.caps.in.wPid = pid;
    // All 32 bytes may hold name characters, without a terminator.
    std::memcpy(port.caps.in.szPname, name.data(),
                std::min(name.size(), sizeof port.caps.in.szPname));
    MidiPort** link = &PortList;
    while (*link != nullptr) link = &(*link)->next;
    *link = &port;
    return port;
  }

  std::deque<MidiPort> ports_;  // stable addresses
};
