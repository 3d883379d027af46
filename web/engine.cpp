#include "web/engine.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "device/device_scan.h"
#include "device/flash_workflow.h"
#include "image/firmware_image.h"
#include "midi/input_dispatcher.h"
#include "midi/port_registry.h"
#include "platform/firmware_resource.h"
#include "session/image_report.h"
#include "texts/user_texts.h"
#include "ui/ports_page_model.h"
#include "web/page_link.h"

namespace web {

using device::DetectedDevice;
using device::DeviceList;
using image::LoadedFirmwareImage;
using session::VersionLabel;

namespace {

// Where the transcript is written, in the engine's in-memory file system.
constexpr const char* TranscriptPath = "/transcript.txt";

std::string Formatted(const char* format, const std::string& a, const std::string& b = {}) {
  std::array<char, 2048> text{};
  std::snprintf(text.data(), text.size(), format, a.c_str(), b.c_str());
  return text.data();
}

std::string PortItem(const midi::MidiPort& port) {
  std::array<char, 64> text{};
  const texts::PortFacts facts = midi::DescribePort(port);
  texts::FormatPortItem(&facts, text);
  return text.data();
}

std::string DeviceLine(const DetectedDevice& device) {
  std::array<char, texts::DeviceLineSize> line{};
  texts::FormatDeviceLine(device::DescribeDevice(device), line);
  return line.data();
}

// The Windows program's device list sorts its lines without regard to case.
bool LineBefore(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

const char* ProgressKind(progress::ProgressEvent::Kind kind) {
  switch (kind) {
    case progress::ProgressEvent::Kind::Open: return "open";
    case progress::ProgressEvent::Kind::Text: return "text";
    case progress::ProgressEvent::Kind::Position: return "position";
    case progress::ProgressEvent::Kind::Close: return "close";
  }
  return "";
}

std::string ProgressMessage(const progress::ProgressEvent& event) {
  Json message;
  message.Text("type", "progress").Text("kind", ProgressKind(event.kind)).Number("window", event.window)
      .Number("at", event.at);
  if (event.kind == progress::ProgressEvent::Kind::Open) {
    Array lines;
    for (const std::string& line : event.lines) lines.Add(Quoted(line));
    message.Number("mode", event.mode).Raw("lines", lines.Done());
  } else if (event.kind == progress::ProgressEvent::Kind::Text) {
    message.Text("text", event.text);
  } else if (event.kind == progress::ProgressEvent::Kind::Position) {
    message.Number("position", event.position).Number("total", event.total);
  }
  return message.Done();
}

}  // namespace

struct Engine::Session {
  bool virtualInstrument = false;
  std::unique_ptr<session::DryRunWorld> dryRun;
  std::unique_ptr<sim::PacedClock> paced;
  std::unique_ptr<WebMidiDriver> midi;  // Web MIDI sessions
  BrowserClock browserClock;
  progress::RecordingProgressView progress;  // Web MIDI sessions
  session::Transcript transcript;
  std::unique_ptr<session::TranscriptMidiDriver> transcriptMidi;
  std::vector<std::uint8_t> imageFile;  // the loaded image's bytes live as long as the session
  bool midiStarted = false;
  bool installed = false;
};

Engine::Engine() {
  // A browser gives a page threads only when it is served cross-origin
  // isolated, which a plain static host does not do.
  midi::SetDispatcherMode(midi::DispatcherMode::Inline);
}

Engine::~Engine() { EndSession(); }

void Engine::Announce() {
  image::FirmwareImage carried;
  const bool valid = image::ReadFirmwareImage(platform::FindFirmwareResource(nullptr), carried);
  Json texts;
  texts.Text("programName", texts::ProgramName).Text("noWebMidi", texts::NoWebMidiText)
      .Text("midiRefused", texts::MidiRefusedFormat).Text("midiFailed", texts::MidiFailedFormat)
      .Text("leaveWarning", texts::LeaveWarningText).Text("sourceMidi", texts::SourceMidiText)
      .Text("sourceVirtual", texts::SourceVirtualText).Text("firmwareLabel", texts::FirmwareLabelFormat)
      .Text("elapsed", texts::ElapsedFormat).Text("timeLeft", texts::TimeLeftFormat);
  PostToPage(Json().Text("type", "ready").Flag("valid", valid).Text("version", carried.version)
                 .Text("label", VersionLabel(carried)).Flag("development", carried.development)
                 .Raw("texts", texts.Done()).Done());
}

void Engine::Fail(const std::string& reason) {
  PostToPage(Json().Text("type", "failed").Text("reason", reason).Done());
}

void Engine::EndSession() {
  lines_.clear();
  if (!session_) return;
  if (session_->midiStarted) midi::MidiTransportShutdown();
  device::FreeDeviceList();
  session_->transcript.Close();
  if (session_->installed) platform::Install({});
  session_.reset();
}

bool Engine::Install(StartRequest& request) {
  Session& s = *session_;
  s.virtualInstrument = request.virtualInstrument;
  platform::MidiDriver* midi = nullptr;
  platform::Clock* clock = nullptr;
  progress::RecordingProgressView* progress = nullptr;
  platform::ModuleHandle module = nullptr;
  if (request.virtualInstrument) {
    std::optional<emulator::FaultRates> faults;
    if (!request.faults.empty()) {
      emulator::FaultRates rates;
      std::string error;
      if (!emulator::ParseFaultRates(request.faults, rates, &error)) {
        Fail(Formatted(texts::FaultSettingsFormat, error));
        return false;
      }
      faults = rates;
    }
    s.dryRun = std::make_unique<session::DryRunWorld>(faults);
    emulator::World& world = s.dryRun->World();
    midi = &world.midi;
    progress = &world.progress;
    module = emulator::World::Module();
    clock = &world.clock;
    if (request.speed > 0) {
      s.paced = std::make_unique<sim::PacedClock>(world.clock, s.browserClock, request.speed);
      clock = s.paced.get();
    }
  } else {
    s.midi = std::make_unique<WebMidiDriver>(std::move(request.inputs), std::move(request.outputs), SendOnPage);
    midi = s.midi.get();
    clock = &s.browserClock;
    progress = &s.progress;
  }
  if (!s.transcript.Open(TranscriptPath, *clock)) {
    Fail(texts::TranscriptUnwritableText);
    return false;
  }
  s.transcriptMidi = std::make_unique<session::TranscriptMidiDriver>(*midi, s.transcript);
  session::Transcript* transcript = &s.transcript;
  dialogs_.SetAnswered([transcript](const char* caption, const char* text, int answer) {
    transcript->Box(caption, text, session::AnswerName(answer));
  });
  progress->SetObserver([transcript](const progress::ProgressEvent& event) {
    if (event.kind == progress::ProgressEvent::Kind::Text) transcript->Text(event.text);
    PostToPage(ProgressMessage(event));
  });
  platform::Install({module, s.transcriptMidi.get(), clock, &dialogs_, progress});
  s.installed = true;
  return true;
}

bool Engine::LoadImage(const StartRequest& request) {
  Session& s = *session_;
  std::span<const std::uint8_t> file;
  std::string name = texts::EmbeddedImageName;
  if (!request.imageFile.empty()) {
    s.imageFile = request.imageFile;
    file = s.imageFile;
    name = request.imageName;
  } else {
    file = platform::FindFirmwareResource(nullptr);
  }
  const session::ImageReport report = session::UseImage(file);
  if (!report.valid) {
    Fail(Formatted(texts::ImageFileUnusableFormat, name, report.reason));
    return false;
  }
  Array markers;
  for (const std::string& marker : report.markers) markers.Add(Quoted(marker));
  Json image;
  image.Text("name", name).Flag("embedded", request.imageFile.empty()).Text("version", report.version)
      .Text("label", VersionLabel(LoadedFirmwareImage())).Flag("development", LoadedFirmwareImage().development)
      .Number("dataPackets", report.dataPackets).Raw("markers", markers.Done());
  if (!request.imageFile.empty()) {
    image.Text("notice", Formatted(texts::ImageFileInUseFormat, name, VersionLabel(LoadedFirmwareImage())));
  }
  PostToPage(Json().Text("type", "session").Flag("virtual", s.virtualInstrument).Raw("image", image.Done())
                 .Done());
  return true;
}

void Engine::Start(StartRequest request) {
  EndSession();
  session_ = std::make_unique<Session>();
  if (!Install(request) || !LoadImage(request)) {
    EndSession();
    return;
  }
  session_->midiStarted = true;  // shutdown is safe after a failed start
  const bool started = midi::MidiTransportInit(nullptr) == 1;
  for (midi::MidiPort* port : ui::PortsInDisplayOrder()) {
    const std::uint32_t flags = port->flags.load();
    for (const StartRequest::Remembered& r : request.remembered) {
      if (r.input != ((flags & midi::PortInput) != 0) || r.name != midi::PortName(port)) continue;
      if (r.enabled != ((flags & midi::PortEnabled) != 0)) ui::TogglePortEnabled(*port);
    }
  }
  PostPorts();
  // Without inputs or outputs the Windows program's list stays without lines.
  if (started) PostDevices(0);
}

void Engine::PostPorts() {
  Array items;
  for (const midi::MidiPort* port : ui::PortsInDisplayOrder()) {
    const std::uint32_t flags = port->flags.load();
    items.Add(Json().Text("text", PortItem(*port)).Text("name", midi::PortName(port))
                  .Flag("input", (flags & midi::PortInput) != 0)
                  .Flag("enabled", (flags & midi::PortEnabled) != 0).Done());
  }
  PostToPage(Json().Text("type", "ports").Raw("items", items.Done()).Done());
}

void Engine::PostDevices(int selected) {
  std::vector<std::pair<std::string, DetectedDevice*>> lines;
  for (DetectedDevice* device = DeviceList; device != nullptr; device = device->next) {
    lines.emplace_back(DeviceLine(*device), device);
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto& a, const auto& b) { return LineBefore(a.first, b.first); });
  if (lines.empty()) lines.emplace_back(texts::NoDevicesLine, nullptr);
  lines_.clear();
  Array shown;
  for (const auto& [line, device] : lines) {
    shown.Add(Quoted(line));
    lines_.push_back(device);
  }
  if (selected < 0 || static_cast<std::size_t>(selected) >= lines_.size()) selected = 0;
  const DetectedDevice* device = lines_[static_cast<std::size_t>(selected)];
  std::string details;
  if (device != nullptr) {
    std::array<char, texts::DeviceDetailsSize> text{};
    texts::FormatDeviceDetails(device::DescribeDevice(*device), VersionLabel(LoadedFirmwareImage()), text);
    details = text.data();
  }
  PostToPage(Json().Text("type", "devices").Raw("lines", shown.Done()).Number("selected", selected)
                 .Text("details", details).Flag("canFlash", device != nullptr).Done());
}

void Engine::Scan() {
  if (!session_ || !session_->midiStarted) return;
  device::ScanDevices(nullptr);
  PostDevices(0);
}

void Engine::Select(int line) {
  if (session_ && !lines_.empty()) PostDevices(line);
}

void Engine::Flash(int line) {
  if (!session_ || line < 0 || static_cast<std::size_t>(line) >= lines_.size()) return;
  DetectedDevice* device = lines_[static_cast<std::size_t>(line)];
  if (device == nullptr) return;
  // Web MIDI ports reach a real instrument; the virtual one is never real.
  if (!session_->virtualInstrument && !device::ConfirmDevelopmentImage()) return;
  // An interface that went away during the upload has been told of by the
  // workflow's own box; a later scan finds it once it is back.
  device::RunFlashWorkflow(nullptr, device);
  if (session_->dryRun) PostFirmwareVerdict();
}

void Engine::PostFirmwareVerdict() {
  const std::size_t written = session_->dryRun->Instrument().Firmware().size();
  const bool whole = session_->dryRun->WroteFirmwareOf(image::TrackBytes(LoadedFirmwareImage()));
  std::array<char, 256> text{};
  std::snprintf(text.data(), text.size(), texts::VirtualFirmwareFormat, written,
                whole ? texts::VirtualFirmwareWhole : texts::VirtualFirmwareWrong);
  PostToPage(Json().Text("type", "firmware").Flag("whole", whole).Text("text", text.data()).Done());
}

void Engine::TogglePort(int item) {
  const std::vector<midi::MidiPort*> ports = ui::PortsInDisplayOrder();
  if (item < 0 || static_cast<std::size_t>(item) >= ports.size()) return;
  ui::TogglePortEnabled(*ports[static_cast<std::size_t>(item)]);
  PostPorts();
}

void Engine::EnableAllPorts() {
  ui::SetAllPortsEnabled(true);
  PostPorts();
}

void Engine::DisableAllPorts() {
  if (!session_) return;
  const int answer = platform::Ui().MessageBox(nullptr, texts::DisableAllText, texts::DisableAllCaption,
                                               platform::BoxYesNo);
  if (answer != platform::IdYes) return;
  ui::SetAllPortsEnabled(false);
  PostPorts();
}

void Engine::PostTranscript() {
  std::string text;
  if (session_) {
    std::fflush(nullptr);
    if (std::FILE* file = std::fopen(TranscriptPath, "rb")) {
      std::array<char, 65536> block{};
      std::size_t n = 0;
      while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) text.append(block.data(), n);
      std::fclose(file);
    }
  }
  PostToPage(Json().Text("type", "transcript").Text("text", text).Done());
}

void Engine::MidiIn(std::uint32_t input, std::span<const std::uint8_t> bytes) {
  if (session_ && session_->midi) session_->midi->Receive(input, bytes);
}

void Engine::PortState(bool input, std::uint32_t index, bool connected) {
  if (session_ && session_->midi) session_->midi->SetConnected(input, index, connected);
}

}  // namespace web
