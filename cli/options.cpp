#include "cli/options.h"

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/system_platform.h"
#include "image/firmware_image.h"
#include "platform/firmware_resource.h"
#include "session/image_report.h"

namespace cli {
namespace {

// "V1.91 (development image)": the image the program carries, for --version;
// "unusable" when it carries none the program would accept.
std::string EmbeddedImageLabel() {
  image::FirmwareImage image;
  if (!image::ReadFirmwareImage(platform::FindFirmwareResource(SystemModule()), image)) return "unusable";
  return "V" + session::VersionLabel(image);
}

}  // namespace

const char* UsageText() {
  return "usage: kelmora-flash [--virtual [--faults SPEC] [--world SPEC]] [--image FILE] [--transcript FILE]\n"
         "                     [--api alsa|jack] COMMAND [command options]\n"
         "commands: ports | scan | flash [--device N] [--yes] [--allow-development-image]\n"
         "          | inspect [FILE] | emulate\n"
         "          (kelmora-flash --help for more)\n";
}

ParseResult ParseCommandLine(const std::vector<std::string>& arguments, Options& options) {
  CLI::App app("Firmware flasher for the Tarvonic", "kelmora-flash");
  app.require_subcommand(1, 1);
  // On Windows too: /images/v2.mid is a file, not an option.
  app.allow_windows_style_options(false);
  app.set_help_all_flag("", "");
  // The firmware the program carries is read only when asked for.
  app.set_version_flag(
      "--version",
      [] { return std::string("kelmora-flash ") + KF_VERSION + ", firmware " + EmbeddedImageLabel(); },
      "print the program's version and the firmware it carries, and exit");
  app.footer(ExitCodesText);

  std::string faults;
  std::string api;
  app.add_flag("--virtual", options.virtualMidi,
               "use the built-in simulated MIDI system with a virtual Tarvonic in its boot loader");
  app.add_option("--faults", faults,
                 "faults of the virtual instrument: seed=N,drop=P,late=P,code1=P,code2=P,code4=P,"
                 "other=P,garbage=P,resync-fail=P (with --virtual or emulate)");
  app.add_option("--world", options.world,
                 "misbehaviours of the simulated MIDI system (with --virtual): shared, busy-in, "
                 "traffic=sense+clock+notes+sysex, blocking-out, early-input, drop-byte=K, unplug=N[+error], "
                 "replug=S");
  app.add_option("--image", options.image,
                 "use this Standard MIDI File instead of the embedded image (emulate: the image the host "
                 "flashes, which the firmware written is checked against)");
  app.add_option("--transcript", options.transcript, "write a transcript of the run to FILE");
  app.add_option("--api", api, "Linux MIDI system: alsa (default) or jack")
      ->check(CLI::IsMember({"alsa", "jack"}));

  CLI::App* ports = app.add_subcommand("ports", "list every MIDI port and whether it is enabled");
  CLI::App* scan = app.add_subcommand("scan", "scan the enabled ports for instruments");
  CLI::App* flash = app.add_subcommand("flash", "scan, then flash the firmware image into an instrument");
  flash->add_option("--device", options.device, "the device's number in the scan's list")
      ->check(CLI::Range(1, 1000));
  flash->add_flag("--yes", options.yes, "answer OK to every question");
  flash->add_flag("--allow-development-image", options.allowDevelopmentImage,
                  "write the development image into an instrument on real MIDI ports (test units only)");
  CLI::App* inspect = app.add_subcommand("inspect", "validate a firmware image and describe it");
  inspect->add_option("FILE", options.inspectFile, "the image (default: the embedded one)");
  CLI::App* emulate = app.add_subcommand(
      "emulate", "run the virtual Tarvonic on real MIDI ports until interrupted");

  // CLI11 wants the arguments in reverse order, without the program name.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return {ParseOutcome::Help, app.help()};
  } catch (const CLI::CallForVersion& version) {
    return {ParseOutcome::Help, std::string(version.what()) + "\n"};
  } catch (const CLI::ParseError& error) {
    // Without a command CLI11 only says that one is required; a word that
    // names none is what the user took for a command.
    if (app.get_subcommands().empty()) {
      for (const std::string& word : app.remaining()) {
        if (!word.empty() && word[0] != '-') return {ParseOutcome::UsageError, "unknown command \"" + word + "\""};
      }
    }
    return {ParseOutcome::UsageError, error.what()};
  }

  if (ports->parsed()) options.command = Command::Ports;
  if (scan->parsed()) options.command = Command::Scan;
  if (flash->parsed()) options.command = Command::Flash;
  if (inspect->parsed()) options.command = Command::Inspect;
  if (emulate->parsed()) options.command = Command::Emulate;

  options.apiGiven = !api.empty();
  options.api = api == "jack" ? MidiApi::Jack : MidiApi::Alsa;
#if defined(_WIN32)
  if (options.apiGiven) return {ParseOutcome::UsageError, "--api: Windows has only its own MIDI system"};
#endif
  if (!faults.empty() || app.count("--faults") > 0) {
    if (!options.virtualMidi && options.command != Command::Emulate) {
      return {ParseOutcome::UsageError, "--faults: only with --virtual or emulate"};
    }
    std::string why;
    if (!emulator::ParseFaultRates(faults, options.faults, &why)) {
      return {ParseOutcome::UsageError, "--faults: " + why};
    }
    options.faultsGiven = true;
  }
  if (app.count("--world") > 0) {
    if (!options.virtualMidi) return {ParseOutcome::UsageError, "--world: only with --virtual"};
    std::string why;
    if (!sim::ParseWorldBehaviours(options.world, options.behaviours, why)) {
      return {ParseOutcome::UsageError, "--world: " + why};
    }
    if (const std::string_view quirk = sim::DriverQuirk(options.behaviours); !quirk.empty()) {
      return {ParseOutcome::UsageError, "--world: the simulated MIDI system does not show " + std::string(quirk)};
    }
  }
  if (options.command == Command::Emulate && options.virtualMidi) {
    return {ParseOutcome::UsageError, "emulate: runs on real MIDI ports, not with --virtual"};
  }
  if (options.command == Command::Emulate && !options.transcript.empty()) {
    return {ParseOutcome::UsageError, "emulate: the instrument takes no --transcript"};
  }
  if (options.command == Command::Inspect && !options.image.empty() && !options.inspectFile.empty()) {
    return {ParseOutcome::UsageError, "inspect: give the image either as FILE or with --image"};
  }
  return {};
}

}  // namespace cli
