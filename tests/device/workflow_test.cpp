// The flash workflow end to end: version comparison, confirmations, the
// handler's operations (recorded by a handler that wraps the Tarvonic's),
// the boot-loader check and the upload against a virtual Tarvonic, and the
// outcome boxes.
#include <algorithm>

#include "device/messages.h"
#include "tests/device/device_fixture.h"

using namespace device;

namespace {

using test_images::ImageBuilder;

const auto Owner = reinterpret_cast<platform::WindowHandle>(0xF1A5);
const ModelDescriptor Recorded{TarvonicModelId, "Tarvonic", HandlerLog::Handler};

Bytes ImageWithVersion(const char* version) {
  return ImageBuilder().Version(version).Command(0x39).Header().Reset().Data().Data().EndOfTrack().File();
}

class WorkflowTest : public DeviceTest {
 protected:
  void SetUp() override {
    AddPorts(1, 1);
    Init();
    HandlerLog::operations.clear();
  }
  std::int32_t Flash(const char* deviceVersion) {
    device = Device(0, 0, deviceVersion);
    device.model = &Recorded;
    return RunFlashWorkflow(Owner, &device);
  }
  std::size_t ProbesSent() const {
    const Bytes probe(ProbePacket().begin(), ProbePacket().end());
    std::size_t n = 0;
    for (const Bytes& m : SentMessages(0)) n += m == probe ? 1 : 0;
    return n;
  }
  DetectedDevice device;
};

using Ops = std::vector<std::int32_t>;

TEST_F(WorkflowTest, UploadCompleteAfterTheChecksAndConfirmation) {
  const Bytes file = ImageWithVersion("1.91");
  UseImage(file);
  emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
  EXPECT_EQ(Flash("1.90"), 1);
  EXPECT_EQ(HandlerLog::operations, (Ops{ModelOpFlashRequested, ModelOpCheckState, ModelOpUpload}));
  const std::vector<sim::BoxRecord> boxes = world.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Ready to begin!");
  EXPECT_EQ(boxes[0].flags, platform::BoxOkCancel | platform::BoxDefButton2);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].text,
            "We are ready to upload Firmware V1.91 to your Device.\r\n"
            "Please follow the messages on your Device and ensure\r\n"
            "not to abort the Upload or power down your Device\r\n"
            "Otherwise you will need to repeat the update.\r\n"
            "Are you certain to start the Upload now?");
  EXPECT_EQ(boxes[1].caption, "Upload Complete");
  EXPECT_EQ(boxes[1].flags, platform::BoxOk);
  EXPECT_EQ(boxes[1].text,
            "The Firmware V1.91 was successfully Uploaded\nto your Device. You can now safely power\noff and on.");
  EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(TrackBytes(LoadedFirmwareImage())));
}

TEST_F(WorkflowTest, AnImageThatIsNotNewerIsConfirmedOrAbandoned) {
  const Bytes file = ImageWithVersion("1.90");
  UseImage(file);
  AddTarvonic({}, {0});
  struct Case {
    int answer;
    std::int32_t result;
    Ops operations;
    std::vector<std::string> captions;
  };
  const std::vector<Case> cases = {
      {platform::IdOk, 1, {ModelOpFlashRequested, ModelOpCheckState, ModelOpUpload},
       {"Not a newer Firmware!", "Ready to begin!", "Upload Complete"}},
      {platform::IdCancel, 0, {ModelOpFlashRequested, ModelOpAbandon}, {"Not a newer Firmware!"}},
  };
  for (const Case& c : cases) {
    HandlerLog::operations.clear();
    const std::size_t before = world.dialogs.Boxes().size();
    const std::size_t sent = SentMessages(0).size();
    world.dialogs.SetResponder([&](const sim::BoxRecord& box) {
      return box.caption == "Not a newer Firmware!" ? c.answer : platform::IdOk;
    });
    EXPECT_EQ(Flash("1.90"), c.result);
    EXPECT_EQ(HandlerLog::operations, c.operations);
    const std::vector<sim::BoxRecord> boxes = world.dialogs.Boxes();
    std::vector<std::string> captions;
    for (std::size_t i = before; i < boxes.size(); ++i) captions.push_back(boxes[i].caption);
    EXPECT_EQ(captions, c.captions);
    EXPECT_EQ(boxes[before].flags, platform::BoxOkCancel | platform::BoxDefButton2);
    EXPECT_EQ(boxes[before].text,
              "The Version of the Firmware (V1.90) specified is not newer\r\n"
              "than the one already inside your Device (V1.90)\r\n"
              "It is not recommended to write this Firmware into your Device!\r\n"
              "Are you sure you want to write this Version into your Device?\r\n");
    if (c.answer == platform::IdCancel) {
      EXPECT_EQ(SentMessages(0).size(), sent) << "not even the state request";
    }
  }
}

TEST_F(WorkflowTest, VersionsAreComparedByteByByte) {
  struct Case {
    const char* image;
    const char* device;
    bool asked;
  };
  const Case cases[] = {
      {"1.10", "1.9", true},    // '1' is below '9': older, although 10 > 9
      {"1.23a", "1.23", false},  // extends the device's version: newer
      {"1.91", "1.90", false},
      {"1.90", "1.91", true},
      {"2.0", "10.0", false},   // '2' above '1'
  };
  AddTarvonic({}, {0});
  std::vector<Bytes> files;
  files.reserve(std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " against " + c.device);
    files.push_back(ImageWithVersion(c.image));
    UseImage(files.back());
    const std::size_t before = world.dialogs.Boxes().size();
    world.dialogs.Answer(platform::IdCancel);  // to whichever box comes first
    HandlerLog::operations.clear();
    EXPECT_EQ(Flash(c.device), 0);
    const std::vector<sim::BoxRecord> boxes = world.dialogs.Boxes();
    ASSERT_GT(boxes.size(), before);
    EXPECT_EQ(boxes[before].caption, c.asked ? "Not a newer Firmware!" : "Ready to begin!");
    EXPECT_EQ(HandlerLog::Count(ModelOpAbandon), 1);
  }
}

TEST_F(WorkflowTest, AbandonIsSentExactlyOnceOnEveryWayOutBeforeTheUpload) {
  const Bytes file = ImageWithVersion("1.91");
  UseImage(file);
  struct Case {
    const char* name;
    bool inBootLoader;
    int readyAnswer;
    Ops operations;
    std::vector<std::string> captions;
  };
  const std::vector<Case> cases = {
      {"state check fails", false, platform::IdOk,
       {ModelOpFlashRequested, ModelOpCheckState, ModelOpAbandon}, {"Warning: Wrong State"}},
      {"Ready to begin! answered Cancel", true, platform::IdCancel,
       {ModelOpFlashRequested, ModelOpCheckState, ModelOpAbandon}, {"Ready to begin!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetachAll();
    AddTarvonic({.inBootLoader = c.inBootLoader}, {0});
    HandlerLog::operations.clear();
    const std::size_t before = world.dialogs.Boxes().size();
    const std::size_t probes = ProbesSent();
    world.dialogs.SetResponder([&](const sim::BoxRecord&) { return c.readyAnswer; });
    EXPECT_EQ(Flash("1.90"), 0);
    EXPECT_EQ(HandlerLog::operations, c.operations);
    std::vector<std::string> captions;
    const std::vector<sim::BoxRecord> boxes = world.dialogs.Boxes();
    for (std::size_t i = before; i < boxes.size(); ++i) captions.push_back(boxes[i].caption);
    EXPECT_EQ(captions, c.captions);
    EXPECT_EQ(ProbesSent(), probes) << "no upload";
  }
}

TEST_F(WorkflowTest, AForbiddenEventMidTrackEndsTheUploadWithUploadErrorAndNoAbandon) {
  // The program refuses such an image at start; to reach the upload's own
  // check, a marker's type byte is turned into a lyric (05h, forbidden)
  // after the image was loaded.
  Bytes file = ImageBuilder()
                   .Version("1.91")
                   .Header()
                   .Reset()
                   .Data()
                   .Data()
                   .Marker("X")
                   .Data()
                   .EndOfTrack()
                   .File();
  UseImage(file);
  const std::vector<Bytes> messages = test_images::Messages(TrackBytes(LoadedFirmwareImage()));
  const Bytes marker = {0xFF, 0x06, 0x01, 'X'};
  const auto at = std::search(file.begin(), file.end(), marker.begin(), marker.end());
  ASSERT_NE(at, file.end());
  at[1] = 0x05;
  AddTarvonic({}, {0});
  EXPECT_EQ(Flash("1.90"), 0);
  EXPECT_EQ(HandlerLog::operations, (Ops{ModelOpFlashRequested, ModelOpCheckState, ModelOpUpload}));
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Ready to begin!", "Upload Error"}));
  EXPECT_EQ(world.dialogs.Boxes().back().text,
            "Something went wrong during the Upload\nPlease verify all Connections and try again\n"
            "If your Device does not respond any longer\nplease contact your local Reseller for Assistance!");
  // The state request, 50 probes, then every packet before the event.
  std::vector<Bytes> expected = {Bytes(StateRequest.begin(), StateRequest.end())};
  for (int i = 0; i < 50; ++i) expected.emplace_back(ProbePacket().begin(), ProbePacket().end());
  expected.insert(expected.end(), messages.begin(), messages.begin() + 4);  // header, reset, two data
  EXPECT_EQ(SentMessages(0), expected);
}

TEST_F(WorkflowTest, GivingUpOnASilentInstrumentEndsWithUploadError) {
  const Bytes file = ImageWithVersion("1.91");
  UseImage(file);
  emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
  tarvonic.SetFaultScript(
      [](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
        return p.kind == PacketKind::Data ? With(emulator::PacketFault::Drop) : std::nullopt;
      });
  world.dialogs.SetResponder([](const sim::BoxRecord& box) {
    return box.caption == "No Answer from Device" ? platform::IdCancel : platform::IdOk;
  });
  EXPECT_EQ(Flash("1.90"), 0);
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Ready to begin!", "No Answer from Device", "Upload Error"}));
  EXPECT_EQ(world.dialogs.Boxes()[1].text,
            "The Device has not answered for 60 seconds.\r\n"
            "Please check the MIDI connections and that the Device is powered.\r\n"
            "Press Retry to keep trying, or Cancel to stop the Upload.");
  EXPECT_EQ(HandlerLog::Count(ModelOpAbandon), 0);
}

TEST_F(WorkflowTest, AModelWithoutHandlerIsNeitherAskedNorFlashed) {
  const Bytes file = ImageWithVersion("1.91");
  UseImage(file);
  AddTarvonic({}, {0});
  device = Device(0, 0, "1.90");
  device.model = &UnknownModel;
  EXPECT_EQ(RunFlashWorkflow(Owner, &device), 0);
  EXPECT_TRUE(world.dialogs.Boxes().empty());
  EXPECT_TRUE(SentMessages(0).empty());
  EXPECT_EQ(world.progress.Started(), initWindows_);
}

// The workflow's boxes have no owner: the page stays usable under them.
// Scan and Start Flash pressed meanwhile do nothing, and the device stays.
TEST_F(WorkflowTest, ScanAndStartFlashUnderAWorkflowsBoxDoNothing) {
  const Bytes file = ImageWithVersion("1.91");
  UseImage(file);
  AddTarvonic({}, {0});
  ASSERT_EQ(ScanDevices(Owner), 1);
  DetectedDevice* found = DeviceList;
  ASSERT_NE(found, nullptr);
  const DetectedDevice copy = *found;
  std::int32_t nestedScan = -1;
  std::int32_t nestedFlash = -1;
  std::size_t boxesInside = 0;
  world.dialogs.SetResponder([&](const sim::BoxRecord& box) {
    if (box.caption == "Ready to begin!" && nestedScan == -1) {
      const std::size_t before = world.dialogs.Boxes().size();
      nestedScan = ScanDevices(Owner);
      nestedFlash = RunFlashWorkflow(Owner, found);
      boxesInside = world.dialogs.Boxes().size() - before;
    }
    return platform::IdOk;
  });
  EXPECT_EQ(RunFlashWorkflow(Owner, found), 1);
  EXPECT_EQ(nestedScan, 0);
  EXPECT_EQ(nestedFlash, 0);
  EXPECT_EQ(boxesInside, 0u);
  EXPECT_EQ(DeviceList, found);
  EXPECT_EQ(found->channel, copy.channel);
  EXPECT_EQ(found->outputPort, copy.outputPort);
  EXPECT_FALSE(FlashWorkflowRunning());
}

}  // namespace
