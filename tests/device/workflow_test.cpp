// The flash workflow end to end against a virtual Tarvonic, without wire
// time: the version order, the boot-loader check, the questions and their
// answers, the handler's operations (through a handler that records them
// and passes them on) and how each path ends.
#include "tests/device/device_fixture.h"

namespace {

using test_images::ImageBuilder;
using Ops = std::vector<std::int32_t>;

const auto Owner = reinterpret_cast<platform::WindowHandle>(0xF1A5);

struct HandlerLog {
  static inline Ops operations;
  static std::int32_t Handler(platform::WindowHandle owner, DetectedDevice* device, std::int32_t operation,
                              std::int32_t a, std::int32_t b) {
    operations.push_back(operation);
    return TarvonicHandler(owner, device, operation, a, b);
  }
};
const ModelDescriptor Recorded{TarvonicModelId, "Tarvonic", HandlerLog::Handler};

Bytes ImageWithVersion(const char* version) {
  return ImageBuilder().Version(version).Command(0x39).Header().Reset().Data().Data().EndOfTrack().File();
}

class WorkflowTest : public DeviceTest {
 protected:
  void SetUp() override {
    AddPorts(1, 1);
    Init();
    world.midi.SetOutputByteRate(0);
    world.midi.SetInputByteRate(0);
  }
};

constexpr std::int32_t Req = ModelOpFlashRequested, Check = ModelOpCheckState, Up = ModelOpUpload,
                       Abandon = ModelOpAbandon;

TEST_F(WorkflowTest, EveryPathAsksAndEndsAsItShould) {
  constexpr std::uint32_t Never = 1u << 30;
  struct Case {
    const char* name;
    const char* image;
    const char* device;
    emulator::TarvonicConfig config;
    emulator::FaultScript script;  // none: everything answered at once
    const char* declined;          // the caption of the box answered Cancel
    std::int32_t result;
    Ops operations;
    Strings captions;
    const char* text = "";  // part of the first box's text
    std::uint32_t escapeFrom = Never;  // Escape held from then on
  };
  const Strings done = {"Ready to begin!", "Upload Complete"}, wrongState = {"Warning: Wrong State"};
  const Ops uploaded = {Req, Check, Up}, notReady = {Req, Check, Abandon};
  const char* const notNewer = "Not a newer Firmware!";
  const Case cases[] = {
      {"newer", "1.91", "1.90", {}, {}, "", 1, uploaded, done, "ready to upload Firmware V1.91 to your Device"},
      {"the same, confirmed", "1.90", "1.90", {}, {}, "", 1, uploaded, {notNewer, "Ready to begin!", "Upload Complete"}},
      {"the same, declined", "1.90", "1.90", {}, {}, notNewer, 0, {Req, Abandon}, {notNewer}},
      // Byte by byte, not by number; a longer version is newer.
      {"1.10 against 1.9", "1.10", "1.9", {}, {}, notNewer, 0, {Req, Abandon}, {notNewer}},
      {"1.90 against 1.91", "1.90", "1.91", {}, {}, notNewer, 0, {Req, Abandon}, {notNewer},
       "(V1.90) specified is not newer\r\nthan the one already inside your Device (V1.91)"},
      {"1.23a against 1.23", "1.23a", "1.23", {}, {}, notNewer, 1, uploaded, done},
      {"2.0 against 10.0", "2.0", "10.0", {}, {}, notNewer, 1, uploaded, done},
      {"Ready to begin! declined", "1.91", "1.90", {}, {}, "Ready to begin!", 0, notReady, {"Ready to begin!"}},
      {"a silent instrument given up", "1.91", "1.90", {},
       Fault(emulator::PacketFault::Drop, [](const emulator::PacketView& p) { return p.kind == PacketKind::Data; }),
       "No Answer from Device", 0, uploaded, {"Ready to begin!", "No Answer from Device", "Upload Error"}},
      // The boot-loader check: any status reply within a second, whatever its
      // code, polled every 100 ms after the request's 20-ms pause, with one
      // more look after the last step; Escape ends the wait at the next step.
      {"state: code 4", "1.91", "1.90", {.stateStatusCode = 4}, {}, "", 1, uploaded, done},
      {"state: code 7Fh", "1.91", "1.90", {.stateStatusCode = 0x7F}, {}, "", 1, uploaded, done},
      {"state reply alone", "1.91", "1.90", {.stateStatusCode = {}, .sendsStateReply = true}, {}, "", 0, notReady,
       wrongState},
      {"not in the boot loader", "1.91", "1.90", {.inBootLoader = false}, {}, "", 0, notReady, wrongState},
      {"answered in the last step", "1.91", "1.90", {}, AnswerAfter(0x11, 1020), "", 1, uploaded, done},
      {"answered after it", "1.91", "1.90", {}, AnswerAfter(0x11, 1021), "", 0, notReady, wrongState},
      {"Escape held", "1.91", "1.90", {}, AnswerAfter(0x11, 500), "", 0, notReady, wrongState, "", 250},
  };
  std::vector<Bytes> files;
  files.reserve(std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files.push_back(ImageWithVersion(c.image));
    UseImage(files.back());
    NextCase();
    emulator::VirtualTarvonic& tarvonic = AddTarvonic(c.config);
    tarvonic.SetFaultScript(c.script);
    world.dialogs.SetResponder([&](const sim::BoxRecord& box) {
      return box.caption == c.declined ? platform::IdCancel : platform::IdOk;
    });
    const std::uint32_t start = world.clock.TickCount();
    world.dialogs.SetEscape([&] { return world.clock.TickCount() - start >= c.escapeFrom; });
    HandlerLog::operations.clear();
    DetectedDevice device = Device(c.device);
    device.model = &Recorded;
    EXPECT_EQ(RunFlashWorkflow(Owner, &device), c.result);
    EXPECT_EQ(HandlerLog::operations, c.operations);
    EXPECT_EQ(Captions(), c.captions);
    EXPECT_NE(Boxes().at(0).text.find(c.text), std::string::npos);
    if (c.result == 1) {
      EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(Track()));
    }
    world.clock.Sleep(2000);  // a late answer comes and goes unheard
  }
  world.dialogs.SetEscape(nullptr);
}

TEST_F(WorkflowTest, AForbiddenEventMidTrackEndsWithUploadErrorAfterWhatCameBefore) {
  // The program refuses such an image at start; to reach the upload's own
  // check, a marker becomes a lyric (05h, forbidden) after the image is loaded.
  Bytes file = ImageBuilder().Version("1.91").Header().Reset().Data().Data().Marker("X").Data().EndOfTrack().File();
  UseImage(file);
  const std::vector<Bytes> messages = test_images::Messages(Track());
  const Bytes marker = {0xFF, 0x06, 0x01, 'X'};
  std::search(file.begin(), file.end(), marker.begin(), marker.end())[1] = 0x05;
  AddTarvonic({});
  DetectedDevice device = Device();
  EXPECT_EQ(RunFlashWorkflow(Owner, &device), 0);
  EXPECT_EQ(Captions(), (Strings{"Ready to begin!", "Upload Error"}));
  std::vector<Bytes> expected = {Bytes(StateRequest.begin(), StateRequest.end())};
  expected.insert(expected.end(), 50, Probe());
  expected.insert(expected.end(), messages.begin(), messages.begin() + 4);  // header, reset, two data
  EXPECT_EQ(Sent(), expected);
}

// The interface goes right after the erase: the upload ends at its next look
// with one box naming the port, nothing further is sent, and every buffer is
// back in the pool. A scan finds nothing until the interface is back; then a
// new scan finds the instrument again, or Start Flash on the listed device
// finds its ports again, and the flash fills it.
TEST_F(WorkflowTest, AnInterfaceUnpluggedMidUploadEndsItAtOnceAndIsFoundAgainOnceBack) {
  const Bytes file = ImageWithVersion("1.91");
  UseImage(file);
  for (const bool error : {false, true}) {
    SCOPED_TRACE(error ? "MMSYSERR_ERROR" : "MMSYSERR_NODRIVER");
    NextCase();
    const emulator::VirtualTarvonic& tarvonic = AddTarvonic({});
    // The state request, the probes, 39h, the header and the erase.
    world.midi.ApplyWorld({.unplugAfter = 54, .unplugError = error, .replugSeconds = 5}, 0, 0);
    const std::uint32_t start = world.clock.TickCount();
    DetectedDevice device = Device();
    EXPECT_EQ(RunFlashWorkflow(Owner, &device), FlashInterfaceLost);
    EXPECT_EQ(world.clock.TickCount() - start, *world.midi.Effects().unpluggedAtMs + 20);
    EXPECT_EQ(Sent().size(), 54u);
    EXPECT_EQ(Captions(), (Strings{"Ready to begin!", "MIDI Connection Lost"}));
    EXPECT_EQ(Boxes().back().text.rfind("The MIDI port \"In 0\" went away during the Upload", 0), 0u);
    EXPECT_EQ(Boxes().back().owner, Owner);
    EXPECT_EQ(transport_testing::BufferPoolSize(), transport_testing::BuffersAllocated());
    EXPECT_EQ(ScanDevices(Owner), 0);
    world.clock.Sleep(5000);
    if (error) {
      ASSERT_EQ(ScanDevices(Owner), 1);
    }
    EXPECT_EQ(RunFlashWorkflow(Owner, error ? DeviceList : &device), 1);
    EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(Track()));
  }
}

// The workflow's boxes have no owner: the page stays usable under them.
// Scan and Start Flash pressed meanwhile do nothing, and the device stays;
// nor is a model without a handler asked or flashed.
TEST_F(WorkflowTest, ScanAndFlashUnderAWorkflowsBoxDoNothing) {
  const Bytes file = ImageWithVersion("1.91");
  UseImage(file);
  AddTarvonic({});
  DetectedDevice unknown = Device();
  unknown.model = &UnknownModel;
  EXPECT_EQ(RunFlashWorkflow(Owner, &unknown), 0) << "a model without a handler is not flashed";
  ASSERT_EQ(ScanDevices(Owner), 1);
  DetectedDevice* found = DeviceList;
  std::int32_t nestedScan = -1, nestedFlash = -1;
  world.dialogs.SetResponder([&](const sim::BoxRecord& box) {
    if (box.caption == "Ready to begin!" && nestedScan == -1) {
      nestedScan = ScanDevices(Owner);
      nestedFlash = RunFlashWorkflow(Owner, found);
    }
    return platform::IdOk;
  });
  EXPECT_EQ(RunFlashWorkflow(Owner, found), 1);
  EXPECT_EQ(nestedScan, 0);
  EXPECT_EQ(nestedFlash, 0);
  EXPECT_EQ(Captions(), (Strings{"Ready to begin!", "Upload Complete"}));
  EXPECT_EQ(DeviceList, found);
  EXPECT_FALSE(FlashWorkflowRunning());
}

}  // namespace
