#include "cli/session.h"

#include "cli/system_platform.h"
#include "device/device_scan.h"
#include "midi/port_registry.h"
#include "platform/firmware_resource.h"
#include "session/image_report.h"
#include "texts/user_texts.h"

namespace cli {

using device::FreeDeviceList;
using midi::MidiTransportInit;
using midi::MidiTransportShutdown;
using session::ImageReport;
using session::ReadWholeFile;

namespace {

void InterruptPrinter(void* printer) { static_cast<ProgressPrinter*>(printer)->Interrupt(); }

std::string OpenErrorText(std::uint32_t error) {
  if (error == platform::MmSysErrAllocated)
    return "it is in use by another program (close it and try again)";
  return "the driver refused it (error " + std::to_string(error) + ")";
}

}  // namespace

Session::Session(const Options& options, const Console& console)
    : options_(options), console_(console) {}

Session::~Session() {
  if (midiStarted_) MidiTransportShutdown();
  FreeDeviceList();
  if (installed_) platform::Install({});
  dryRun_.reset();
}

bool Session::Install() {
  platform::MidiDriver* midi = nullptr;
  platform::Clock* clock = nullptr;
  progress::RecordingProgressView* progress = nullptr;
  platform::ModuleHandle module = nullptr;
  if (options_.virtualMidi) {
    dryRun_ = std::make_unique<session::DryRunWorld>(
        options_.faultsGiven ? std::optional(options_.faults) : std::nullopt);
    emulator::World& world = dryRun_->World();
    if (!options_.world.empty()) world.midi.ApplyWorld(options_.behaviours, 0, 0);
    midi = &world.midi;
    clock = &world.clock;
    progress = &world.progress;
    module = emulator::World::Module();
  } else {
    std::string error;
    systemMidi_ = MakeSystemMidiDriver(options_.api, error);
    if (systemMidi_ == nullptr) {
      std::fprintf(console_.err, MidiSystemErrorFormat, error.c_str());
      return false;
    }
    systemClock_ = MakeSystemClock();
    midi = systemMidi_.get();
    clock = systemClock_.get();
    progress = &systemProgress_;
    module = SystemModule();
  }

  if (!options_.transcript.empty()) {
    if (!transcript_.Open(options_.transcript, *clock)) {
      std::fprintf(console_.err, "kelmora-flash: cannot write the transcript %s\n",
                   options_.transcript.c_str());
      return false;
    }
    transcriptMidi_ = std::make_unique<session::TranscriptMidiDriver>(*midi, transcript_);
    midi = transcriptMidi_.get();
  }
  session::Transcript* transcript = transcript_.IsOpen() ? &transcript_ : nullptr;
  printer_ = std::make_unique<ProgressPrinter>(console_.out, console_.terminal, transcript);
  dialogs_ = std::make_unique<TerminalDialogs>(console_.in, console_.out, console_.err, options_.yes,
                                               transcript);
  dialogs_->SetBeforeBox(InterruptPrinter, printer_.get());
  progress->SetObserver(
      [printer = printer_.get()](const progress::ProgressEvent& e) { printer->OnEvent(e); });
  platform::Install({module, midi, clock, dialogs_.get(), progress});
  installed_ = true;
  return true;
}

std::string Session::WorldReport() const {
  return dryRun_ ? sim::DescribeWorld(options_.behaviours, dryRun_->World().midi.Effects()) : std::string();
}

bool Session::LoadImage() {
  std::span<const std::uint8_t> file;
  std::string name = texts::EmbeddedImageName;
  if (!options_.image.empty()) {
    std::string error;
    if (!ReadWholeFile(options_.image, imageFile_, error)) {
      std::fprintf(console_.err, "kelmora-flash: %s\n", error.c_str());
      return false;
    }
    file = imageFile_;
    name = options_.image;
  } else {
    // The program's own image, wherever the platform keeps it (a --virtual run
    // on Windows still reads its resource).
    file = platform::FindFirmwareResource(SystemModule());
  }
  const ImageReport report = session::UseImage(file);
  if (!report.valid) {
    std::fprintf(console_.err, "kelmora-flash: %s is unusable: %s\n", name.c_str(), report.reason.c_str());
  }
  return report.valid;
}

bool Session::StartMidi() {
  midiStarted_ = true;  // shutdown is safe after a failed start
  const bool started = MidiTransportInit(nullptr) == 1;
  // The Windows program leaves such ports out without a word; here the user
  // learns why the instrument on one of them cannot be found.
  for (const midi::UnopenedPort& port : midi::UnopenedPorts()) {
    std::fprintf(console_.err, "kelmora-flash: cannot open the MIDI %s \"%s\": %s\n",
                 port.input ? "input" : "output", port.name, OpenErrorText(port.error).c_str());
  }
  return started;
}

bool Session::Finish() {
  if (!transcript_.IsOpen()) return true;
  if (transcript_.Close()) return true;
  std::fprintf(console_.err, "kelmora-flash: writing the transcript %s failed\n", options_.transcript.c_str());
  return false;
}

}  // namespace cli
