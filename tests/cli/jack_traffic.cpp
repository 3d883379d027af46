// kf-jack-traffic PORT KINDS: another JACK client's traffic (the MIDI world's
// traffic=KINDS, platform/sim/world_behaviours.h) on whatever input listens
// to PORT, the instrument's output: its own output is connected to every
// port connected to PORT, as they come. Runs until a signal ends it. JACK
// MIDI carries whole messages, so the byte stream is cut into them the way a
// winmm input would (running status written out).
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/midi_input_assembly.h"
#include "platform/sim/world_behaviours.h"

namespace {

std::atomic<bool> stop{false};
jack_client_t* client = nullptr;
jack_port_t* out = nullptr;
sim::TrafficSource* source = nullptr;
sim::WorldEffects effects;
std::vector<std::uint8_t> due, sysex;  // reserved: the process callback does not allocate
sim::InputAssembly assembly;

std::uint32_t Milliseconds(jack_nframes_t frames) {
  return static_cast<std::uint32_t>(frames * 1000ull / jack_get_sample_rate(client));
}

struct Sink {
  void* buffer;
  void Short(std::uintptr_t packed) {
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(packed), static_cast<std::uint8_t>(packed >> 8),
                                   static_cast<std::uint8_t>(packed >> 16)};
    jack_midi_event_write(buffer, 0, bytes, bytes[0] >= 0xF8 ? 1 : 1 + sim::DataBytesOf(bytes[0]));
  }
  void Broken() { sysex.clear(); }
  bool SysEx(std::uint8_t byte) {
    sysex.push_back(byte);
    if (byte == sim::SysExEnd) jack_midi_event_write(buffer, 0, sysex.data(), sysex.size());
    if (byte == sim::SysExEnd) sysex.clear();
    return true;
  }
  void Stray() {}
};

int Process(jack_nframes_t frames, void*) {
  Sink sink{jack_port_get_buffer(out, frames)};
  jack_midi_clear_buffer(sink.buffer);
  due.clear();
  source->TakeDue(Milliseconds(jack_last_frame_time(client)), due, effects);
  for (const std::uint8_t byte : due) sim::AssembleInput(assembly, byte, sink);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  sim::WorldBehaviours world;
  std::string error;
  if (argc != 3 || !sim::ParseWorldBehaviours(std::string("traffic=") + argv[2], world, error)) {
    std::fprintf(stderr, "usage: kf-jack-traffic PORT sense+clock+notes+sysex %s\n", error.c_str());
    return 2;
  }
  client = jack_client_open("kf-jack-traffic", JackNoStartServer, nullptr);
  if (client == nullptr) return 1;
  sim::TrafficSource traffic(world.traffic, Milliseconds(jack_frame_time(client)));
  source = &traffic;
  due.reserve(1 << 12);
  sysex.reserve(1 << 12);
  out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  jack_set_process_callback(client, Process, nullptr);
  if (out == nullptr || jack_activate(client) != 0) return 1;
  for (const int signal : {SIGINT, SIGTERM}) std::signal(signal, [](int) { stop = true; });
  while (!stop) {
    jack_port_t* listened = jack_port_by_name(client, argv[1]);
    const char** inputs = listened != nullptr ? jack_port_get_all_connections(client, listened) : nullptr;
    for (const char** name = inputs; name != nullptr && *name != nullptr; ++name) {
      if (!jack_port_connected_to(out, *name)) jack_connect(client, jack_port_name(out), *name);
    }
    if (inputs != nullptr) jack_free(inputs);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  jack_client_close(client);
  return 0;
}
