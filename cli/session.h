// One run of the command line on an installed platform: the simulated world
// with its virtual Tarvonic (--virtual) or the computer's MIDI system, the
// terminal's dialogs and progress, the transcript, the firmware image and the
// MIDI transport. Everything is taken down in the right order when the
// session ends: the transport first, then the instrument, then the platform.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/progress_printer.h"
#include "cli/terminal_dialogs.h"
#include "emulator/virtual_tarvonic.h"
#include "progress/recording_progress_view.h"
#include "session/dry_run_world.h"
#include "session/transcript.h"
#include "session/transcript_driver.h"

namespace cli {

struct Console {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool terminal = false;  // stdout is a terminal: progress redrawn in place
};

class Session {
 public:
  Session(const Options& options, const Console& console);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Installs the platform; false (with a message on err) when it cannot.
  bool Install();
  // Loads the image (--image or the embedded one) as the program's; false
  // (with a message) when it is unusable.
  bool LoadImage();
  // Starts the MIDI transport; false when it found no inputs or outputs.
  bool StartMidi();
  // Ends the transcript; false when writing it failed.
  bool Finish();

  // --virtual only: the instrument, none otherwise.
  emulator::VirtualTarvonic* Instrument() { return dryRun_ ? &dryRun_->Instrument() : nullptr; }
  // The terminal's dialogs, once installed.
  const TerminalDialogs* Dialogs() const { return dialogs_.get(); }
  // --virtual: what --world's behaviours did so far (sim::DescribeWorld).
  std::string WorldReport() const;
  const Console& Io() const { return console_; }

 private:
  const Options& options_;
  Console console_;
  session::Transcript transcript_;
  std::unique_ptr<session::DryRunWorld> dryRun_;
  std::unique_ptr<platform::MidiDriver> systemMidi_;
  std::unique_ptr<platform::Clock> systemClock_;
  progress::RecordingProgressView systemProgress_;
  std::unique_ptr<session::TranscriptMidiDriver> transcriptMidi_;
  std::unique_ptr<TerminalDialogs> dialogs_;
  std::unique_ptr<ProgressPrinter> printer_;
  std::vector<std::uint8_t> imageFile_;  // the image's bytes live as long as the session
  bool installed_ = false;
  bool midiStarted_ = false;
};

}  // namespace cli
