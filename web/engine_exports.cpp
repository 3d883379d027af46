// What the engine's Worker calls (site/engine-worker.js). The commands that
// may wait (start, scan, flash, disable all: they sleep on the clock or wait
// for a box) are called as asynchronous exports, one at a time; the others
// return at once and may be called while a command waits, which is how MIDI
// input, port changes, Escape and the answers to boxes reach the engine.
#include <emscripten.h>

#include <cstdint>
#include <span>
#include <string>

#include "web/engine.h"

namespace {

web::Engine& TheEngine() {
  static web::Engine engine;
  return engine;
}

// The next session's request, filled piece by piece before kf_start.
web::StartRequest Pending;

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void kf_announce() { TheEngine().Announce(); }

EMSCRIPTEN_KEEPALIVE void kf_request_port(int input, const char* name, int opened) {
  web::PagePort port{.name = name, .opened = opened != 0};
  (input != 0 ? Pending.inputs : Pending.outputs).push_back(std::move(port));
}

EMSCRIPTEN_KEEPALIVE void kf_request_image(const std::uint8_t* bytes, int length, const char* name) {
  Pending.imageFile.assign(bytes, bytes + length);
  Pending.imageName = name;
}

EMSCRIPTEN_KEEPALIVE void kf_request_remembered(int input, const char* name, int enabled) {
  Pending.remembered.push_back({.input = input != 0, .name = name, .enabled = enabled != 0});
}

EMSCRIPTEN_KEEPALIVE void kf_start(int virtualInstrument, const char* faults, int speed) {
  web::StartRequest request = std::move(Pending);
  Pending = {};
  request.virtualInstrument = virtualInstrument != 0;
  request.faults = faults;
  request.speed = speed > 0 ? static_cast<std::uint32_t>(speed) : 0;
  TheEngine().Start(std::move(request));
}

EMSCRIPTEN_KEEPALIVE void kf_scan() { TheEngine().Scan(); }
EMSCRIPTEN_KEEPALIVE void kf_select(int line) { TheEngine().Select(line); }
EMSCRIPTEN_KEEPALIVE void kf_flash(int line) { TheEngine().Flash(line); }
EMSCRIPTEN_KEEPALIVE void kf_toggle_port(int item) { TheEngine().TogglePort(item); }
EMSCRIPTEN_KEEPALIVE void kf_enable_all() { TheEngine().EnableAllPorts(); }
EMSCRIPTEN_KEEPALIVE void kf_disable_all() { TheEngine().DisableAllPorts(); }
EMSCRIPTEN_KEEPALIVE void kf_transcript() { TheEngine().PostTranscript(); }

EMSCRIPTEN_KEEPALIVE void kf_midi_in(int input, const std::uint8_t* bytes, int length) {
  TheEngine().MidiIn(static_cast<std::uint32_t>(input),
                     std::span(bytes, static_cast<std::size_t>(length)));
}

EMSCRIPTEN_KEEPALIVE void kf_port_state(int input, int index, int connected) {
  TheEngine().PortState(input != 0, static_cast<std::uint32_t>(index), connected != 0);
}

EMSCRIPTEN_KEEPALIVE void kf_escape(int held) { TheEngine().Escape(held != 0); }

}  // extern "C"
