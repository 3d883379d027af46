// The page's engine: the program that the Windows program's shell and pages
// are, on the same core, for the page. It runs in a dedicated Worker (see
// site/engine-worker.js) and does what the page asks, one command at a time:
// start a session on the page's Web MIDI ports or on the virtual Tarvonic,
// scan, flash the selected device, enable and disable ports, hand over the
// transcript. What it shows goes to the page as messages (page_link.h);
// its boxes are the page's modals (platform/web/page_dialogs.h).
//
// A session is what the command line's run is: the platform installed, the
// transcript open from its first moment, the image loaded and checked, the
// MIDI transport started. On the virtual Tarvonic it is the command line's
// dry run (session/dry_run_world.h) with the page's boxes: the same image,
// faults and answers write the same transcript, byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/device_records.h"
#include "emulator/virtual_faults.h"
#include "platform/sim/paced_clock.h"
#include "platform/web/browser_clock.h"
#include "platform/web/page_dialogs.h"
#include "platform/web/web_midi_driver.h"
#include "progress/recording_progress_view.h"
#include "session/dry_run_world.h"
#include "session/transcript.h"
#include "session/transcript_driver.h"

namespace web {

struct StartRequest {
  bool virtualInstrument = false;
  std::vector<PagePort> inputs;  // the page's Web MIDI ports, in its order
  std::vector<PagePort> outputs;
  std::string faults;  // virtual only: as the command line's --faults
  // Virtual only: virtual milliseconds per real one; 0 as fast as it goes.
  std::uint32_t speed = 0;
  std::vector<std::uint8_t> imageFile;  // empty: the embedded image
  std::string imageName;
  // Ports the user enabled or disabled in an earlier session (the page
  // remembers them by kind and name): applied after the MIDI start.
  struct Remembered {
    bool input = false;
    std::string name;
    bool enabled = false;
  };
  std::vector<Remembered> remembered;
};

class Engine {
 public:
  Engine();
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Posts `ready`: the carried image and the page's own texts.
  void Announce();
  // Ends the session there is and starts another; posts `session`, then
  // `ports` and `devices`, or `failed`.
  void Start(StartRequest request);
  void Scan();
  void Select(int line);
  void Flash(int line);
  void TogglePort(int item);
  void EnableAllPorts();
  void DisableAllPorts();  // after the question the Ports page asks
  void PostTranscript();

  // From the page while the engine waits (none of these sleeps).
  void MidiIn(std::uint32_t input, std::span<const std::uint8_t> bytes);
  void PortState(bool input, std::uint32_t index, bool connected);
  void Escape(bool held) { dialogs_.SetEscapeHeld(held); }

 private:
  struct Session;
  void EndSession();
  bool Install(StartRequest& request);
  bool LoadImage(const StartRequest& request);
  void PostPorts();
  void PostDevices(int selected);
  void PostFirmwareVerdict();
  void Fail(const std::string& reason);

  PageDialogs dialogs_;
  std::unique_ptr<Session> session_;
  std::vector<device::DetectedDevice*> lines_;  // the device lines' devices, as shown
};

}  // namespace web
