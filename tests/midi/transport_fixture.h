// The MIDI transport on a simulated world, and a listener that writes down
// what it hears. The transport is shut down and its state cleared when the
// world goes, so test cases and the rows of a table may share a process.
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
#include "tests/midi/transport_testing.h"

using namespace midi;
using namespace emulator;
using Bytes = std::vector<std::uint8_t>;

class TransportWorld {
 public:
  ~TransportWorld() {
    MidiTransportShutdown();
    transport_testing::ResetTransport();
  }
  // Inputs and outputs named "In <i>" and "Out <i>".
  void AddPorts(int inputs, int outputs) {
    for (int i = 0; i < inputs; ++i) world.midi.AddInput({.name = "In " + std::to_string(i)});
    for (int i = 0; i < outputs; ++i) world.midi.AddOutput({.name = "Out " + std::to_string(i)});
  }
  void Init() { ASSERT_EQ(MidiTransportInit(nullptr), 1); }
  // The opened port with that driver index.
  static MidiPort* In(std::uint32_t index) { return Port(index); }
  static MidiPort* Out(std::uint32_t index) { return Port(index | PortOutputMark); }
  static MidiPort* Port(std::uint32_t device) {
    MidiPort* port = PortList;
    while (port != nullptr && port->device != device) port = port->next;
    EXPECT_NE(port, nullptr) << "no port with device word " << device;
    return port;
  }
  // Lets virtual time pass, delivering whatever falls due.
  void Wait(std::uint32_t ms) { world.clock.Sleep(ms); }

  emulator::World world;
};

class TransportTest : public ::testing::Test, public TransportWorld {};

// A listener's reply record: each call goes to `log` as "<name>@<input>"
// followed by the captured bytes in hex, and returns `result`.
struct Ear {
  std::string name;
  std::vector<std::string>* log = nullptr;
  int result = ListenerKeep;
};

inline int Hear(MidiBuffer*, MidiPort* port, void* reply, const std::uint8_t* captures, int count) {
  const auto* ear = static_cast<const Ear*>(reply);
  std::string entry = ear->name + "@" + std::to_string(port->device & PortDeviceIndexMask);
  const char* hex = "0123456789ABCDEF";
  for (int i = 0; i < count; ++i) entry += {' ', hex[captures[i] >> 4], hex[captures[i] & 15]};
  ear->log->push_back(entry);
  return ear->result;
}
