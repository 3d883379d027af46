// kelmora-flash's own behaviour, one run per row: arguments and the answers
// typed, then the exit code, what stdout and stderr say and what the
// transcript holds. The protocol underneath is the device tests' business.
// Every row is a test of its own, so that each runs in a process of its own.
#include <gtest/gtest.h>

#include "cli/firmware_digest.h"
#include "session/image_report.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

namespace {

using Strings = std::vector<std::string>;
using test_images::Bytes;
using test_images::ImageBuilder;

struct Row {
  const char* name;
  Strings args;  // @SMALL, @BROKEN, @NOHEADER, @LONG, @NONE: files made for the row; @T: its transcript;
                 // @DEV: the development image
  const char* input;
  int code;
  Strings out = {};         // each in stdout (@DEVDIGEST, @SMALLDIGEST: the firmware written, as it must be)
  Strings err = {};         // each in stderr
  Strings transcript = {};  // each in the transcript
  Strings absent = {};      // in neither stdout nor the transcript
};

const Bytes& Small() {
  static const Bytes file = ImageBuilder().Version("2.00").Marker("Erasing").Header().Reset().Marker("Writing")
      .Data().Data(40).Command(0x3E, 9).Marker("Done").EndOfTrack().File();
  return file;
}
Bytes DevelopmentImage() {
  Bytes file;
  std::string error;
  EXPECT_TRUE(session::ReadWholeFile(KF_DEVELOPMENT_IMAGE_FILE, file, error)) << error;
  return file;
}
std::string Digest(std::span<const std::uint8_t> file) {
  return cli::FirmwareDigest(test_images::PlainFirmware(test_images::Track(file))) +
         " (equal to the image's plain firmware)";
}
std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class CliRun : public testing::TestWithParam<Row> {};

TEST_P(CliRun, ExitCodeOutputAndTranscript) {
  const Row& row = GetParam();
  const std::string base = cli_test::TempPath(row.name);
  Bytes broken = Small();
  broken.resize(broken.size() - 5);
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"@SMALL", Small()}, {"@BROKEN", broken},
      {"@NOHEADER", ImageBuilder().Version("1.00").Data().EndOfTrack().File()},
      {"@LONG", ImageBuilder().Header().Data(2041).File()}};
  Strings args = row.args;
  for (std::string& a : args) {
    for (const auto& [mark, bytes] : files) {
      if (a != mark) continue;
      a = base + mark.substr(1) + ".mid";
      cli_test::WriteFile(a, bytes);
    }
    a = Replace(Replace(a, "@NONE", cli_test::TempPath("nowhere/none.mid")), "@T", base + ".txt");
    a = Replace(a, "@DEV", KF_DEVELOPMENT_IMAGE_FILE);
  }
  const cli_test::CliRun run = cli_test::RunCli(args, row.input);
  EXPECT_EQ(run.code, row.code) << run.out << run.err;
  if (row.code == 2) {
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("kelmora-flash: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("\nusage: kelmora-flash"), std::string::npos) << run.err;
  }
  std::string transcript;
  if (std::find(row.args.begin(), row.args.end(), "@T") != row.args.end()) {
    const cli_test::TranscriptFile t = cli_test::ReadTranscript(base + ".txt");
    EXPECT_EQ(t.firstLine, "# kelmora-flash transcript 1");
    EXPECT_TRUE(t.malformed.empty()) << t.malformed.front();
    for (std::size_t i = 1; i < t.events.size(); ++i) EXPECT_GE(t.events[i].ms, t.events[i - 1].ms);
    for (const cli_test::TranscriptEvent& e : t.events) transcript += e.kind + " " + e.rest + "\n";
  }
  for (std::string part : row.out) {
    part = Replace(Replace(part, "@SMALLDIGEST", Digest(Small())), "@DEVDIGEST", Digest(DevelopmentImage()));
    EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n--- stdout:\n" << run.out;
  }
  for (const std::string& part : row.err) EXPECT_NE(run.err.find(part), std::string::npos) << part << "\n" << run.err;
  // Only the development image on real ports, unacknowledged, is refused.
  EXPECT_EQ(run.err.find("refusing to write the development image") != std::string::npos, row.code == 3) << run.err;
  for (const std::string& part : row.transcript) EXPECT_NE(transcript.find(part), std::string::npos) << part;
  for (const std::string& part : row.absent) {
    EXPECT_EQ(run.out.find(part), std::string::npos) << part;
    EXPECT_EQ(transcript.find(part), std::string::npos) << part;
  }
}

const char* const Device = "1 device found\n1: Tarvonic[41] V1.90 at Virtual Tarvonic Ch 1\n";
const char* const Faults = "seed=11,drop=0.01,late=0.004,code1=0.004,code2=0.01,code4=0.004,other=0.004,garbage=0.01,"
                           "resync-fail=0.2";
const char* const SmallReport = "\nevents: 10\nsysex: 5\nheader-packets: 1\ndata-packets: 2\nreset-packets: 1\n"
                                "markers: Erasing | Writing | Done\n";

const Row Rows[] = {
    {"dry_run", {"--virtual", "--image", "@DEV", "--transcript", "@T", "flash", "--yes"}, "", 0,
     {Device, "Flashing Tarvonic[41] V1.90 at Virtual Tarvonic Ch 1 with firmware V1.91 (development image)\n",
      "== Ready to begin! ==", "[o]k / [c]ancel? OK (--yes)", "Flashing in Progress", "[##############################] 100%",
      "== Upload Complete ==", "@DEVDIGEST"},
     {},
     {"OUT [Virtual Tarvonic] F0 7E 7F 06 01 F7\n", "IN [Virtual Tarvonic] F0 7E 00 06 02 00 6D 1C 41",
      "BOX Ready to begin! | We are ready to upload Firmware V", ".\\r\\nPlease follow", "start the Upload now? | OK\n",
      "TEXT Erasing Flash...\nOUT", "TEXT Writing Sections...\nOUT", "TEXT Restarting...\nOUT",
      "BOX Upload Complete | "},
     {"TEXT !", "No Answer"}},
    {"dry_run_with_faults",
     {"--virtual", "--image", "@DEV", "--transcript", "@T", "--faults", Faults, "flash", "--yes"}, "", 0,
     {"== Upload Complete ==", "@DEVDIGEST"}, {}, {"TEXT !Retry...\n", "TEXT !Error\n", "TEXT !Resync\n"}},
    {"declined", {"--virtual", "--transcript", "@T", "flash"}, "c\n", 1, {"== Ready to begin! ==", "[o]k / [c]ancel? "},
     {}, {"BOX Ready to begin! | ", " | CANCEL\n"}, {"Flashing in Progress", "7F 41 3A"}},
    {"image_file", {"--virtual", "--image", "@SMALL", "flash", "--yes"}, "", 0, {"with firmware V2.00", "@SMALLDIGEST"}},
    {"no_such_device", {"--virtual", "flash", "--yes", "--device", "2"}, "", 1, {Device},
     {"kelmora-flash: there is no device 2 (the scan found 1)\n"}, {}, {"Flashing"}},
    {"broken_image", {"--virtual", "--image", "@BROKEN", "flash", "--yes"}, "", 1, {},
     {"BROKEN.mid is unusable: chunk length reaching past the end of the file"}, {}, {"device found"}},
    {"missing_image", {"--virtual", "--image", "@NONE", "flash", "--yes"}, "", 1, {}, {"kelmora-flash: ", "none.mid"}, {}},
    {"transcript_unwritable", {"--virtual", "--transcript", "@NONE", "flash", "--yes"}, "", 1, {},
     {"kelmora-flash: cannot write the transcript "}, {}},
    {"world_unplugged", {"--virtual", "--world", "unplug=55", "--image", "@SMALL", "--transcript", "@T", "flash", "--yes"},
     "", 4,
     {"== MIDI Connection Lost ==\nThe MIDI port \"Virtual Tarvonic\" went away during the Upload:",
      "virtual MIDI world: unplug=55: unplugged at "},
     {}, {"BOX MIDI Connection Lost | "}, {"Upload Error", "Fatal", "Unable to send"}},
    {"world_traffic_blocking",
     {"--virtual", "--world", "shared,traffic=sense+clock+notes+sysex,blocking-out", "--image", "@SMALL", "--transcript",
      "@T", "flash", "--yes"},
     "", 0,
     {"1 device found\n", "@SMALLDIGEST",
      "virtual MIDI world: shared: 2 opens of ports another program holds; traffic: 288 messages (sense 13, clock 198, "
      "notes 16, sysex 61), 57 real-time bytes inside replies; blocking-out: 57 sends blocked 2.159 s in all\n"},
     {}, {}, {"TEXT !", "Ambiguous"}},
    {"world_early_input_in_pieces",
     {"--virtual", "--world", "early-input,split=6,traffic=sysex", "--image", "@SMALL", "--transcript", "@T", "flash",
      "--yes"},
     "", 0, {"1 device found\n", "@SMALLDIGEST", "sysex 61), 0 real-time bytes inside replies; early-input: 216 input bytes "
                                                      "found no buffer; split=6\n"},
     {}, {}, {"TEXT !"}},
    {"world_damaging_link", {"--virtual", "--world", "drop-byte=100", "--image", "@SMALL", "flash", "--yes"}, "", 1,
     {"== Device reports Transfer Errors ==\nThe Device has rejected what it received for 270 seconds",
      "== Upload Error ==", "drop-byte=100: 1886 bytes dropped\n"}},
    {"ports", {"--virtual", "ports"}, "", 0,
     {"In00[0000 0000]: Virtual Tarvonic enabled\nOut00[0000 0000]: Virtual Tarvonic enabled\n"}},
    {"scan", {"--virtual", "--image", "@DEV", "scan"}, "", 0,
     {std::string(Device) + "\n1:\n  Device Tarvonic V1.90\n  MIDI-Input: Virtual Tarvonic\n"
                            "  MIDI-Output: Virtual Tarvonic\n  Update to Version 1.91 (development image)\n"}},
    {"inspect_file", {"inspect", "@SMALL"}, "", 0,
     {"image: valid\nversion: 2.00\ndevelopment-image: no\ntrack-length: ", SmallReport}},
    {"inspect_development", {"--image", "@DEV", "inspect"}, "", 0,
     {"image: valid\nversion: 1.91\ndevelopment-image: yes\ntrack-length: 336043\n"}},
    {"inspect_embedded", {"inspect"}, "", 0, {"image: valid\nversion: "}},
    // The development image goes to real ports only when asked for, and is
    // refused before any port opens; any other image, or the option, gets
    // as far as the MIDI system, which has no instrument here.
    {"development_image_refused", {"--image", "@DEV", "--transcript", "@NONE", "flash", "--yes"}, "", 3, {},
     {"kelmora-flash: refusing to write the development image V1.91 (test data, not firmware) into an "
      "instrument on real MIDI ports; nothing was sent. Add --allow-development-image to write it into a "
      "test unit anyway.\n"}},
    {"development_image_allowed", {"--image", "@DEV", "flash", "--yes", "--allow-development-image"}, "", 1},
    {"other_image_on_real_ports", {"--image", "@SMALL", "flash", "--yes"}, "", 1},
    {"inspect_no_header", {"inspect", "@NOHEADER"}, "", 1, {"image: invalid\nreason: no header packet"}},
    {"inspect_too_long", {"inspect", "@LONG"}, "", 1,
     {"image: invalid\nreason: SysEx event at track byte 132 is a data packet with a payload of 2041 bytes"}},
    {"inspect_missing", {"inspect", "@NONE"}, "", 1, {"image: invalid\nreason: cannot read "}},
    {"faults_accepted", {"--virtual", "--faults", "seed=7, resync-fail=1,garbage=0.5", "inspect"}, "", 0, {"image: valid"}},
    {"help", {"--help"}, "", 0, {"ports", "scan", "flash", "inspect", "emulate", "--faults", "--world", "--transcript", "--api"}},
    {"version", {"--virtual", "--version", "flash"}, "", 0,
     {KF_EMBEDS_DEVELOPMENT_IMAGE ? "kelmora-flash " KF_VERSION ", firmware V1.91 (development image)\n"
                                  : "kelmora-flash " KF_VERSION ", firmware V"}},
    {"usage_nothing", {}, "", 2},
    {"usage_unknown_command", {"frobnicate"}, "", 2, {}, {"kelmora-flash: unknown command \"frobnicate\"\nusage: "}},
    {"usage_faults_without_virtual", {"--faults", "drop=0.1", "flash"}, "", 2, {}, {"--faults: only with --virtual"}},
    {"usage_fault_key", {"--virtual", "--faults", "drip=0.1", "flash"}, "", 2, {}, {"unknown fault key: drip"}},
    {"usage_device_zero", {"--virtual", "flash", "--device", "0"}, "", 2},
    {"usage_world_without_virtual", {"--world", "shared", "flash"}, "", 2, {}, {"--world: only with --virtual"}},
    {"usage_world_unknown", {"--virtual", "--world", "shared,trafic=clock", "flash"}, "", 2, {},
     {"--world: unknown behaviour \"trafic=clock\""}},
    {"usage_world_quirk", {"--virtual", "--world", "notready=3", "flash"}, "", 2, {},
     {"--world: the simulated MIDI system does not show notready"}},
    {"usage_api", {"--api", "coreaudio", "ports"}, "", 2},
    {"usage_emulate_virtual", {"--virtual", "emulate"}, "", 2},
    {"usage_inspect_twice", {"--image", "a.mid", "inspect", "b.mid"}, "", 2},
};

INSTANTIATE_TEST_SUITE_P(Runs, CliRun, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

}  // namespace
