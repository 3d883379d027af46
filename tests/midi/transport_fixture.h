// A simulated world with the MIDI transport on it, and helpers to name its
// ports. The transport is shut down and its state cleared when the case
// ends, so cases may share a process.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "emulator/world.h"
#include "midi/input_dispatcher.h"
#include "midi/listeners.h"
#include "midi/port_registry.h"
#include "midi/sysex_output.h"
#include "midi/transport_records.h"
#include "tests/midi/transport_testing.h"

using namespace midi;
using namespace emulator;

class TransportTest : public ::testing::Test {
 protected:
  ~TransportTest() override {
    MidiTransportShutdown();
    transport_testing::ResetTransport();
  }

  // Inputs and outputs named "In <i>" and "Out <i>".
  void AddPorts(int inputs, int outputs) {
    for (int i = 0; i < inputs; ++i) world.midi.AddInput({.name = "In " + std::to_string(i)});
    for (int i = 0; i < outputs; ++i) world.midi.AddOutput({.name = "Out " + std::to_string(i)});
  }
  void Init() { ASSERT_EQ(MidiTransportInit(nullptr), 1); }

  // The opened port with that device word (index, | PortOutputMark for outputs).
  static MidiPort* Port(std::uint32_t device) {
    for (MidiPort* port = PortList; port != nullptr; port = port->next) {
      if (port->device == device) return port;
    }
    ADD_FAILURE() << "no port with device word " << device;
    return nullptr;
  }
  static MidiPort* In(std::uint32_t index) { return Port(index); }
  static MidiPort* Out(std::uint32_t index) { return Port(index | PortOutputMark); }

  static std::vector<std::uint32_t> DeviceWords() {
    std::vector<std::uint32_t> words;
    for (MidiPort* port = PortList; port != nullptr; port = port->next) words.push_back(port->device);
    return words;
  }

  // Lets virtual time pass, delivering whatever falls due.
  void Wait(std::uint32_t ms) { world.clock.Sleep(ms); }

  emulator::World world;
};

using Bytes = std::vector<std::uint8_t>;
