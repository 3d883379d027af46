#include "cli/commands.h"

#include "cli/firmware_digest.h"
#include "device/device_scan.h"
#include "device/flash_workflow.h"
#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "midi/transport_records.h"
#include "platform/firmware_resource.h"
#include "platform/services.h"
#include "session/image_report.h"
#include "texts/user_texts.h"

namespace cli {

using device::DeviceList;
using device::ScanDevices;
using midi::MidiPort;
using midi::PortEnabled;
using midi::PortList;
using session::ImageReport;
using session::InspectImage;
using session::PrintImageReport;
using session::ReadWholeFile;
using session::VersionLabel;

namespace {

using device::DetectedDevice;
using image::LoadedFirmwareImage;

std::string DeviceLine(const DetectedDevice* device) {
  char line[texts::DeviceLineSize];
  texts::FormatDeviceLine(device::DescribeDevice(*device), line);
  return line;
}

std::string DeviceDetails(const DetectedDevice* device) {
  char details[texts::DeviceDetailsSize];
  texts::FormatDeviceDetails(device::DescribeDevice(*device), VersionLabel(LoadedFirmwareImage()),
                             details);
  return details;
}

std::string PortItemText(const midi::MidiPort& port) {
  char text[64];
  const texts::PortFacts facts = midi::DescribePort(port);
  texts::FormatPortItem(&facts, text);
  return text;
}

std::vector<DetectedDevice*> Devices() {
  std::vector<DetectedDevice*> devices;
  for (DetectedDevice* d = DeviceList; d != nullptr; d = d->next) devices.push_back(d);
  return devices;
}

void PrintLines(std::FILE* out, const std::string& text, const char* indent) {
  std::string line;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::fprintf(out, "%s%s\n", indent, line.c_str());
      line.clear();
    } else {
      line.push_back(text[i]);
    }
  }
}

// Scans and prints the numbered device lines. The session is started.
std::vector<DetectedDevice*> ScanAndList(const Console& console) {
  ScanDevices(nullptr);
  const std::vector<DetectedDevice*> devices = Devices();
  std::fprintf(console.out, "%zu device%s found\n", devices.size(), devices.size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < devices.size(); ++i) {
    std::fprintf(console.out, "%zu: %s\n", i + 1, DeviceLine(devices[i]).c_str());
  }
  return devices;
}

// The firmware the virtual instrument wrote, against what the image's plain
// firmware is: a dry run shows that nothing was lost or corrupted. False when
// a virtual instrument holds anything but the image's plain firmware.
bool ReportVirtualFirmware(Session& session, const Console& console) {
  emulator::VirtualTarvonic* tarvonic = session.Instrument();
  if (tarvonic == nullptr) return true;
  const std::vector<std::uint8_t> written = tarvonic->Firmware();
  const bool whole = written == emulator::PlainFirmwareOfTrack(TrackBytes(LoadedFirmwareImage()));
  std::fprintf(console.out, "virtual Tarvonic: %zu bytes of firmware written, %s %s\n", written.size(),
               FirmwareDigest(written).c_str(),
               whole ? "(equal to the image's plain firmware)" : "(DIFFERENT from the image's plain firmware)");
  return whole;
}

// The development image goes to an instrument on real MIDI ports only when
// the user says so: it is test data, and a real Tarvonic would be left in
// its boot loader. The virtual instrument takes it without asking.
bool RefuseDevelopmentImage(const Options& options, const Console& console) {
  const image::FirmwareImage& loaded = LoadedFirmwareImage();
  if (options.virtualMidi || !loaded.development || options.allowDevelopmentImage) return false;
  char line[256];
  std::snprintf(line, sizeof line, texts::DevelopmentRefusedFormat, loaded.version);
  std::fprintf(console.err, "kelmora-flash: %s\n", line);
  return true;
}

}  // namespace

int RunPorts(const Options& options, const Console& console) {
  Session session(options, console);
  if (!session.Install() || !session.StartMidi()) return ExitFailure;
  for (const MidiPort* port = PortList; port != nullptr; port = port->next) {
    std::fprintf(console.out, "%s %s\n", PortItemText(*port).c_str(),
                 (port->flags.load() & PortEnabled) != 0 ? "enabled" : "disabled");
  }
  return session.Finish() ? ExitSuccess : ExitFailure;
}

int RunScan(const Options& options, const Console& console) {
  Session session(options, console);
  if (!session.Install() || !session.LoadImage() || !session.StartMidi()) return ExitFailure;
  const std::vector<DetectedDevice*> devices = ScanAndList(console);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    std::fprintf(console.out, "\n%zu:\n", i + 1);
    PrintLines(console.out, DeviceDetails(devices[i]), "  ");
  }
  if (!session.Finish()) return ExitFailure;
  return devices.empty() ? ExitFailure : ExitSuccess;
}

int RunFlash(const Options& options, const Console& console) {
  Session session(options, console);
  // The image first, so that a refusal opens no port.
  if (!session.LoadImage()) return ExitFailure;
  if (RefuseDevelopmentImage(options, console)) return ExitDevelopmentImage;
  if (!session.Install() || !session.StartMidi()) return ExitFailure;
  return FlashWithSession(session, options, console);
}

int FlashWithSession(Session& session, const Options& options, const Console& console) {
  const std::vector<DetectedDevice*> devices = ScanAndList(console);
  if (devices.empty()) {
    std::fprintf(console.err, "kelmora-flash: no device to flash\n");
    session.Finish();
    return ExitFailure;
  }
  std::size_t chosen = 0;
  if (options.device != 0) {
    if (static_cast<std::size_t>(options.device) > devices.size()) {
      std::fprintf(console.err, "kelmora-flash: there is no device %d (the scan found %zu)\n",
                   options.device, devices.size());
      session.Finish();
      return ExitFailure;
    }
    chosen = static_cast<std::size_t>(options.device) - 1;
  } else if (devices.size() > 1) {
    std::fprintf(console.err, "kelmora-flash: the scan found %zu devices; choose one with --device N\n",
                 devices.size());
    session.Finish();
    return ExitFailure;
  }
  std::fprintf(console.out, "Flashing %s with firmware V%s\n", DeviceLine(devices[chosen]).c_str(),
               VersionLabel(LoadedFirmwareImage()).c_str());
  const std::int32_t flashed = RunFlashWorkflow(nullptr, devices[chosen]);
  const bool uploaded = flashed == 1;
  const bool whole = ReportVirtualFirmware(session, console);
  if (!options.world.empty()) std::fprintf(console.out, "virtual MIDI world: %s\n", session.WorldReport().c_str());
  const bool written = session.Finish();
  if (platform::Ui().StopRequested()) {
    const bool beforeUpload = session.Dialogs() != nullptr && session.Dialogs()->EndedBeforeUpload();
    std::fprintf(console.err, "kelmora-flash: %s\n",
                 beforeUpload ? texts::InterruptedBeforeUploadText : texts::UploadStoppedText);
    return ExitInterrupted;
  }
  if (flashed == device::FlashInterfaceLost) return ExitInterfaceLost;
  // The host said "Upload Complete", the instrument knows better: a dry run
  // must never pass over firmware that is not the image's.
  if (uploaded && !whole) std::fprintf(console.err, "kelmora-flash: %s\n", texts::VirtualFirmwareWrongText);
  return uploaded && whole && written ? ExitSuccess : ExitFailure;
}

int RunInspect(const Options& options, const Console& console) {
  const std::string& path = !options.inspectFile.empty() ? options.inspectFile : options.image;
  std::vector<std::uint8_t> bytes;
  std::span<const std::uint8_t> file;
  if (!path.empty()) {
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) {
      std::fprintf(console.out, "image: invalid\nreason: cannot read %s\n", error.c_str());
      return ExitFailure;
    }
    file = bytes;
  } else {
    file = platform::FindFirmwareResource(nullptr);
  }
  const ImageReport report = InspectImage(file);
  PrintImageReport(report, console.out);
  return report.valid ? ExitSuccess : ExitFailure;
}

int RunCommandLine(const std::vector<std::string>& arguments, const Console& console) {
  Options options;
  const ParseResult parsed = ParseCommandLine(arguments, options);
  if (parsed.outcome == ParseOutcome::Help) {
    std::fprintf(console.out, "%s", parsed.text.c_str());
    return ExitSuccess;
  }
  if (parsed.outcome == ParseOutcome::UsageError) {
    std::string line = parsed.text;
    for (char& c : line) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(console.err, "kelmora-flash: %s\n%s", line.c_str(), UsageText());
    return ExitUsage;
  }
  switch (options.command) {
    case Command::Ports: return RunPorts(options, console);
    case Command::Scan: return RunScan(options, console);
    case Command::Flash: return RunFlash(options, console);
    case Command::Inspect: return RunInspect(options, console);
    case Command::Emulate: return RunEmulate(options, console);
  }
  return ExitFailure;
}

}  // namespace cli
