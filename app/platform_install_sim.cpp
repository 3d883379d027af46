// The simulated platform of the simulated build: the program's real Win32
// dialogs and progress windows, but MIDI ports that exist only in this
// process, with a virtual instrument in its boot loader behind one pair of
// them, on a virtual clock that runs faster than real time.
//
// The ports, in driver order:
//   inputs   0 "Tarvonic In"        the instrument answers here
//            1 "Desk Keyboard In"
//            2 "Loopback In"        busy: opening it fails, so it is not listed
//   outputs  0 "Tarvonic Out"       the instrument listens here
//            1 "Wavetable Synth"    a synthesizer technology: off by default
//            2 "Desk Keyboard Out"  nobody answers a scan here
// The instrument is a Tarvonic with device id 0 running version 1.90, so the
// embedded image (1.91) counts as newer and no "not newer" question comes.
#include "app/platform_install.h"
#include "app/paused_progress_view.h"
#include "emulator/virtual_tarvonic.h"
#include "emulator/world.h"
#include "platform/services.h"
#include "platform/sim/paced_clock.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/dialogs_win32.h"
#include "ui/win32_ui.h"

namespace {

// A flash of the development image takes about 168 s of virtual time: some
// ten seconds here.
constexpr std::uint32_t TimeScale = 16;
// Long enough for a robot polling every few milliseconds, short enough that
// the port names at MIDI start do not drag.
constexpr std::uint32_t StatusPauseMs = 200;
constexpr std::uint32_t PortInUse = 4;  // MMSYSERR_ALLOCATED
constexpr std::uint16_t TechnologyMidiPort = 1;
constexpr std::uint16_t TechnologySynth = 2;

void AddPorts(sim::SimMidiDriver& midi) {
  midi.AddInput({.name = "Tarvonic In", .wMid = 0x00A7, .wPid = 0x0041});
  midi.AddInput({.name = "Desk Keyboard In", .wMid = 0x0002, .wPid = 0x0110});
  midi.AddInput({.name = "Loopback In", .wMid = 0x00FF, .wPid = 0x0001, .openError = PortInUse});
  midi.AddOutput({.name = "Tarvonic Out", .wMid = 0x00A7, .wPid = 0x0042,
                  .wTechnology = TechnologyMidiPort});
  midi.AddOutput({.name = "Wavetable Synth", .wMid = 0x0001, .wPid = 0x0066,
                  .wTechnology = TechnologySynth});
  midi.AddOutput({.name = "Desk Keyboard Out", .wMid = 0x0002, .wPid = 0x0111,
                  .wTechnology = TechnologyMidiPort});
}

}  // namespace

void InstallPlatform(HINSTANCE instance) {
  // Made once and kept to the end of the process: the transport and the
  // instrument use them until the last moment.
  auto* world = new emulator::World();
  AddPorts(world->midi);
  emulator::TarvonicConfig tarvonic;
  tarvonic.deviceId = 0x00;
  tarvonic.version = {'1', '.', '9', '0'};
  tarvonic.inBootLoader = true;
  tarvonic.replyInputs = {0};
  auto* instrument = new emulator::VirtualTarvonic(world->midi, tarvonic);
  instrument->AttachToOutput(0);

  static win32::Win32Clock realClock;
  static sim::PacedClock clock(world->clock, realClock, TimeScale);
  static win32::Win32Dialogs dialogs;
  static PausedProgressView progress(ui::Win32ProgressView(), StatusPauseMs);
  ui::PortsAreVirtual = true;
  platform::Install({.module = instance,
                     .midi = &world->midi,
                     .clock = &clock,
                     .dialogs = &dialogs,
                     .progress = &progress});
}
