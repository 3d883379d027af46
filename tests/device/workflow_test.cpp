// The flash workflow end to end against a virtual Tarvonic: the version
// order, the questions and their answers, the handler's operations (through
// a handler that records them and passes them on) and how each path ends.
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
  }
};

constexpr std::int32_t Req = ModelOpFlashRequested, Check = ModelOpCheckState, Up = ModelOpUpload,
                       Abandon = ModelOpAbandon;

TEST_F(WorkflowTest, EveryPathAsksAndEndsAsItShould) {
  struct Case {
    const char* name;
    const char* image;
    const char* device;
    emulator::TarvonicConfig config;
    int notNewer, ready, noAnswer;  // the answers to those boxes
    bool silent;                    // no answer to data packets
    std::int32_t result;
    Ops operations;
    Strings captions;
    const char* text = "";  // part of the first box's text
  };
  const int Ok = platform::IdOk, Cancel = platform::IdCancel;
  const Strings done = {"Ready to begin!", "Upload Complete"};
  const Case cases[] = {
      {"newer", "1.91", "1.90", {}, Ok, Ok, Ok, false, 1, {Req, Check, Up}, done,
       "ready to upload Firmware V1.91 to your Device"},
      {"the same, confirmed", "1.90", "1.90", {}, Ok, Ok, Ok, false, 1, {Req, Check, Up},
       {"Not a newer Firmware!", "Ready to begin!", "Upload Complete"}},
      {"the same, declined", "1.90", "1.90", {}, Cancel, Ok, Ok, false, 0, {Req, Abandon}, {"Not a newer Firmware!"}},
      // Byte by byte, not by number; a longer version is newer.
      {"1.10 against 1.9", "1.10", "1.9", {}, Cancel, Ok, Ok, false, 0, {Req, Abandon}, {"Not a newer Firmware!"}},
      {"1.90 against 1.91", "1.90", "1.91", {}, Cancel, Ok, Ok, false, 0, {Req, Abandon}, {"Not a newer Firmware!"},
       "(V1.90) specified is not newer\r\nthan the one already inside your Device (V1.91)"},
      {"1.23a against 1.23", "1.23a", "1.23", {}, Cancel, Ok, Ok, false, 1, {Req, Check, Up}, done},
      {"2.0 against 10.0", "2.0", "10.0", {}, Cancel, Ok, Ok, false, 1, {Req, Check, Up}, done},
      {"not in the boot loader", "1.91", "1.90", {.inBootLoader = false}, Ok, Ok, Ok, false, 0,
       {Req, Check, Abandon}, {"Warning: Wrong State"}},
      {"Ready to begin! declined", "1.91", "1.90", {}, Ok, Cancel, Ok, false, 0, {Req, Check, Abandon},
       {"Ready to begin!"}},
      {"a silent instrument given up", "1.91", "1.90", {}, Ok, Ok, Cancel, true, 0, {Req, Check, Up},
       {"Ready to begin!", "No Answer from Device", "Upload Error"}},
  };
  std::vector<Bytes> files;
  files.reserve(std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files.push_back(ImageWithVersion(c.image));
    UseImage(files.back());
    NextCase();
    emulator::VirtualTarvonic& tarvonic = AddTarvonic(c.config);
    if (c.silent) tarvonic.SetFaultScript(Fault(emulator::PacketFault::Drop, [](const emulator::PacketView& p) {
      return p.kind == PacketKind::Data;
    }));
    world.dialogs.SetResponder([&](const sim::BoxRecord& box) {
      return box.caption == "Not a newer Firmware!" ? c.notNewer : box.caption == "Ready to begin!" ? c.ready
             : box.caption == "No Answer from Device" ? c.noAnswer : Ok;
    });
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
  }
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
