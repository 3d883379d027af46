// The dry run: kelmora-flash --virtual flash --yes, its terminal output and
// its transcript, checked against the protocol's rules on the virtual clock.
#include <algorithm>
#include <gtest/gtest.h>

#include "cli/firmware_digest.h"
#include "device/messages.h"
#include "image/firmware_image.h"
#include "image/track_walker.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

using namespace image;
using namespace device;

using cli_test::RunCli;
using cli_test::TranscriptEvent;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::size_t ProbeRounds = 50;
constexpr const char* Port = "Virtual Tarvonic";

struct Flashed {
  cli_test::CliRun run;
  cli_test::TranscriptFile transcript;
  std::span<const std::uint8_t> track;
};

Flashed FlashEmbedded(std::vector<std::string> extra, const std::string& name) {
  Flashed f;
  const std::string path = cli_test::TempPath(name);
  std::vector<std::string> arguments = {"--virtual", "--transcript", path};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  arguments.insert(arguments.end(), {"flash", "--yes"});
  f.run = RunCli(arguments);
  f.transcript = cli_test::ReadTranscript(path);
  f.track = test_images::Track(test_images::Embedded());
  return f;
}

// The complete SysEx messages the host sent, joined from the OUT chunks, with
// the time of each message's first chunk.
struct Message {
  std::int64_t ms;
  Bytes bytes;
};
std::vector<Message> SentMessages(const std::vector<TranscriptEvent>& events) {
  std::vector<Message> messages;
  Bytes current;
  std::int64_t start = 0;
  for (const TranscriptEvent& e : events) {
    if (e.kind != "OUT") continue;
    for (const std::uint8_t b : e.bytes) {
      if (b == 0xF0) {
        current.clear();
        start = e.ms;
      }
      current.push_back(b);
      if (b == 0xF7) messages.push_back({start, current});
    }
  }
  return messages;
}

bool IsStatusReply(const Bytes& bytes) {
  return bytes.size() == 11 && std::equal(bytes.begin(), bytes.begin() + 4, StatusReplyPattern.begin()) &&
         bytes[5] == 0x41 && bytes[6] == 0x40;
}

std::vector<std::string> Of(const std::vector<TranscriptEvent>& events, const char* kind) {
  std::vector<std::string> rests;
  for (const TranscriptEvent& e : events) {
    if (e.kind == kind) rests.push_back(e.rest);
  }
  return rests;
}

// The rules that hold for any run, faults or not.
void ExpectWellFormed(const cli_test::TranscriptFile& t) {
  EXPECT_EQ(t.firstLine, "# kelmora-flash transcript 1");
  EXPECT_TRUE(t.malformed.empty()) << t.malformed.front();
  ASSERT_FALSE(t.events.empty());
  std::int64_t last = 0;
  const TranscriptEvent* previousOut = nullptr;
  for (const TranscriptEvent& e : t.events) {
    EXPECT_GE(e.ms, last) << e.kind << " " << e.rest;
    last = e.ms;
    if (e.kind == "OUT" || e.kind == "IN") {
      EXPECT_EQ(e.port, Port);
      EXPECT_LE(e.bytes.size(), 128u);
    }
    if (e.kind != "OUT") continue;
    // The pacing pause after every chunk: n / 42 + 20 ms.
    if (previousOut != nullptr) {
      EXPECT_GE(e.ms - previousOut->ms, static_cast<std::int64_t>(previousOut->bytes.size() / 42 + 20))
          << "chunk at " << e.ms;
    }
    previousOut = &e;
  }
}

}  // namespace

TEST(DryRun, FlashesTheEmbeddedImageByTheProtocolsRules) {
  const Flashed f = FlashEmbedded({}, "dry-run.txt");
  ASSERT_EQ(f.run.code, 0) << f.run.out << f.run.err;
  const std::string& out = f.run.out;
  EXPECT_NE(out.find("1 device found\n1: Tarvonic[41] V1.90 at Virtual Tarvonic Ch 1\n"), std::string::npos);
  EXPECT_NE(out.find("== Ready to begin! =="), std::string::npos);
  EXPECT_NE(out.find("[##############################] 100%"), std::string::npos);
  EXPECT_NE(out.find("== Upload Complete =="), std::string::npos);
  const Bytes plain = test_images::PlainFirmware(f.track);
  EXPECT_NE(out.find(cli::FirmwareDigest(plain) + " (equal to the image's plain firmware)"), std::string::npos)
      << out.substr(out.size() > 300 ? out.size() - 300 : 0);

  const auto& events = f.transcript.events;
  ExpectWellFormed(f.transcript);

  // What was sent, message by message: the scan's Identity Request, the state
  // request, 50 probes (the image's header packet), then the track in order.
  // Header and data packets are scrambled afresh, so only their frame and
  // length are fixed; every other message leaves as stored.
  const std::vector<Message> sent = SentMessages(events);
  const std::vector<Bytes> track = test_images::Messages(f.track);
  ASSERT_EQ(sent.size(), 2 + ProbeRounds + track.size());
  EXPECT_EQ(sent[0].bytes, Bytes(IdentityRequest.begin(), IdentityRequest.end()));
  EXPECT_EQ(sent[1].bytes, Bytes(StateRequest.begin(), StateRequest.end()));
  const Bytes probe = FindHeaderPacket(f.track);
  for (std::size_t i = 0; i < ProbeRounds; ++i) EXPECT_EQ(sent[2 + i].bytes, probe) << i;
  for (std::size_t i = 0; i < track.size(); ++i) {
    const Bytes& s = sent[2 + ProbeRounds + i].bytes;
    const Bytes& stored = track[i];
    ASSERT_EQ(s.size(), stored.size()) << i;
    const bool scrambled = stored.size() >= 10 && (stored[6] == 0x3A || stored[6] == 0x3B);
    if (scrambled) {
      EXPECT_TRUE(std::equal(s.begin(), s.begin() + 7, stored.begin())) << i;
    } else {
      EXPECT_EQ(s, stored) << i;
    }
  }

  // Every message from the state request on is answered with one status
  // reply before the next message leaves: 3 to the probes, 0 to the rest.
  std::vector<Bytes> replies(sent.size());
  std::vector<int> replyCount(sent.size(), 0);
  std::size_t current = 0;
  bool started = false;
  for (const TranscriptEvent& e : events) {
    if (e.kind == "OUT" && !e.bytes.empty() && e.bytes.front() == 0xF0) {
      current = started ? current + 1 : 0;
      started = true;
    } else if (e.kind == "IN" && started) {
      ++replyCount[current];
      replies[current] = e.bytes;
      EXPECT_GE(e.ms, sent[current].ms);
    }
  }
  EXPECT_EQ(replyCount[0], 1);  // the Identity Reply
  EXPECT_EQ(replies[0].at(8), TarvonicModelId);
  for (std::size_t i = 1; i < sent.size(); ++i) {
    ASSERT_EQ(replyCount[i], 1) << "message " << i;
    ASSERT_TRUE(IsStatusReply(replies[i])) << i;
    const std::uint8_t code = replies[i][7];
    if (i >= 2 && i < 2 + ProbeRounds) {
      EXPECT_EQ(code, StatusInSync) << i;
    } else if (sent[i].bytes == probe) {
      // The image's header packet is the probe: the instrument answers it
      // as one, in step, which the engine takes as accepted.
      EXPECT_TRUE(code == StatusInSync || code == StatusAccepted) << i;
    } else {
      EXPECT_EQ(code, StatusAccepted) << i;
    }
  }

  // The boxes, with their answers, and the markers as status texts in order.
  const std::vector<std::string> boxes = Of(events, "BOX");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].rfind("Ready to begin! | We are ready to upload Firmware V1.91 to your Device.\\r\\n", 0), 0u)
      << boxes[0];
  EXPECT_EQ(boxes[0].substr(boxes[0].size() - 5), " | OK");
  EXPECT_EQ(boxes[1].rfind("Upload Complete | ", 0), 0u);
  EXPECT_EQ(boxes[1].substr(boxes[1].size() - 5), " | OK");
  EXPECT_EQ(events.back().kind, "BOX");
  const std::vector<std::string> texts = Of(events, "TEXT");
  const std::vector<std::string> markers = test_images::Markers(f.track);
  auto at = texts.begin();
  for (const std::string& marker : markers) {
    at = std::find(at, texts.end(), marker);
    EXPECT_NE(at, texts.end()) << marker;
  }
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind('!', 0) == 0; }), 0);
}

TEST(DryRun, FaultsAreRecoveredAndTheFirmwareArrivesWhole) {
  const Flashed f = FlashEmbedded({"--faults",
                                   "seed=11,drop=0.01,late=0.004,code1=0.004,code2=0.01,code4=0.004,"
                                   "other=0.004,garbage=0.01,resync-fail=0.2"},
                                  "dry-run-faults.txt");
  ASSERT_EQ(f.run.code, 0) << f.run.out << f.run.err;
  const Bytes plain = test_images::PlainFirmware(f.track);
  EXPECT_NE(f.run.out.find(cli::FirmwareDigest(plain) + " (equal to the image's plain firmware)"),
            std::string::npos);
  ExpectWellFormed(f.transcript);
  const auto& events = f.transcript.events;
  const std::vector<std::string> texts = Of(events, "TEXT");
  for (const char* highlighted : {"!Retry...", "!Error", "!Resync"}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), highlighted), texts.end()) << highlighted;
  }
  // Packets went again: more messages than the clean run's.
  const std::vector<Message> sent = SentMessages(events);
  EXPECT_GT(sent.size(), 2 + ProbeRounds + test_images::Messages(f.track).size());
  // Garbage from the instrument shows as input that is no status reply.
  std::size_t foreign = 0;
  for (const TranscriptEvent& e : events) {
    if (e.kind == "IN" && !IsStatusReply(e.bytes)) ++foreign;
  }
  EXPECT_GT(foreign, 1u);  // the Identity Reply and at least one garbage message
  const std::vector<std::string> boxes = Of(events, "BOX");
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back().rfind("Upload Complete | ", 0), 0u);
}

TEST(DryRun, DecliningTheConfirmationSendsNoPacketAndFails) {
  const std::string path = cli_test::TempPath("declined.txt");
  const cli_test::CliRun run = RunCli({"--virtual", "--transcript", path, "flash"}, "c\n");
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find("[o]k / [c]ancel? "), std::string::npos);
  const auto t = cli_test::ReadTranscript(path);
  const auto sent = SentMessages(t.events);
  ASSERT_EQ(sent.size(), 2u);  // the scan and the state request only
  const auto boxes = Of(t.events, "BOX");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].substr(boxes[0].size() - 9), " | CANCEL");
}

TEST(DryRun, EndOfInputAnswersNo) {
  const cli_test::CliRun run = RunCli({"--virtual", "flash"}, "");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out.find("== Upload Complete =="), std::string::npos);
}

TEST(DryRun, ASmallImageFromAFile) {
  const auto file = test_images::ImageBuilder()
                        .Version("2.00")
                        .Marker("Erasing")
                        .Header()
                        .Reset()
                        .Marker("Writing")
                        .Data()
                        .Data()
                        .Data(30)
                        .EndOfTrack()
                        .File();
  const std::string path = cli_test::TempPath("small-flash.mid");
  cli_test::WriteFile(path, file);
  const cli_test::CliRun run = RunCli({"--virtual", "--image", path, "flash", "--yes"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  const Bytes plain = test_images::PlainFirmware(test_images::Track(file));
  EXPECT_NE(run.out.find(cli::FirmwareDigest(plain) + " (equal to the image's plain firmware)"),
            std::string::npos) << run.out;
  EXPECT_NE(run.out.find("with firmware V2.00"), std::string::npos);
}

TEST(DryRun, FailuresBeforeTheUploadGiveExitCodeOne) {
  const std::string broken = cli_test::TempPath("broken.mid");
  cli_test::WriteFile(broken, {'M', 'T', 'h', 'd', 0, 0, 0, 6});
  struct Case {
    std::vector<std::string> arguments;
    const char* err;
  };
  const std::vector<Case> cases = {
      {{"--virtual", "flash", "--yes", "--device", "2"}, "there is no device 2"},
      {{"--virtual", "--image", broken, "flash", "--yes"}, "is unusable"},
      {{"--virtual", "--image", cli_test::TempPath("nowhere/none.mid"), "flash", "--yes"}, "none.mid"},
      {{"--virtual", "--transcript", cli_test::TempPath("nowhere/t.txt"), "flash", "--yes"},
       "cannot write the transcript"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    const cli_test::CliRun run = RunCli(c.arguments);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Upload Complete"), std::string::npos);
  }
}

// One command per case: the MIDI transport starts once per process.
TEST(DryRun, PortsListsTheVirtualPair) {
  const cli_test::CliRun ports = RunCli({"--virtual", "ports"});
  EXPECT_EQ(ports.code, 0);
  const auto lines = cli_test::Lines(ports.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"In00[0000 0000]: Virtual Tarvonic enabled",
                                      "Out00[0000 0000]: Virtual Tarvonic enabled"}));
}

TEST(DryRun, ScanListsTheDeviceAndItsDetails) {
  const cli_test::CliRun scan = RunCli({"--virtual", "scan"});
  EXPECT_EQ(scan.code, 0);
  EXPECT_NE(scan.out.find("1 device found\n1: Tarvonic[41] V1.90 at Virtual Tarvonic Ch 1\n\n1:\n"
                          "  Device Tarvonic V1.90\n  MIDI-Input: Virtual Tarvonic\n"
                          "  MIDI-Output: Virtual Tarvonic\n  Update to Version 1.91\n"),
            std::string::npos)
      << scan.out;
}
// Found by a soak of unattended dry runs: two lost replies in a row to the
// erase packet, 30 s of budget each, reached the minute of silence, and --yes
// gave up on an instrument that was answering, leaving it erased.
TEST(DryRun, LostRepliesToTheErasePacketDoNotEndAnUnattendedUpload) {
  const auto file = test_images::ReleaseShape(2);
  const std::string path = cli_test::TempPath("lost-erase-replies.mid");
  cli_test::WriteFile(path, file);
  const cli_test::CliRun run =
      RunCli({"--virtual", "--faults",
              "seed=2938,drop=0.06,late=0.01,code1=0.06,other=0.03,garbage=0.03,resync-fail=0.2",
              "--image", path, "flash", "--yes"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out.find("== No Answer from Device =="), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("(equal to the image's plain firmware)"), std::string::npos);
}
