// The real-time benchmark of the command line: kelmora-flash flashes the
// embedded image over a private JACK server (dummy back end) into
// `kelmora-flash emulate`, in real time. From the flasher's transcript it
// works out the protocol's own minimum for the same run (protocol_minimum.h)
// and prints the wall time against it, their ratio, and the CPU time of both
// processes. A run takes a few minutes.
//
//   kf-cli-jack-bench [--image FILE] [--faults SPEC]
#include <cstdio>
#include <string>
#include <vector>

#include "cli/firmware_digest.h"
#include "bench/protocol_minimum.h"
#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "platform/firmware_resource.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/jack_session.h"

using namespace image;

int main(int argc, char** argv) {
  std::vector<std::string> flashOptions;
  for (int i = 1; i + 1 < argc; i += 2) {
    flashOptions.push_back(argv[i]);
    flashOptions.push_back(argv[i + 1]);
  }
  const std::string dir = cli_test::TempPath("jack-bench-" + std::to_string(getpid()) + "-");
  cli_test::JackSession jack = cli_test::StartJackSession(KF_FLASH_EXE, dir);
  if (!jack.failure.empty()) {
    std::printf("JACK benchmark not run: %s\n", jack.failure.c_str());
    return 1;
  }
  const std::string transcript = dir + "transcript.txt";
  std::vector<std::string> arguments = {KF_FLASH_EXE, "--api", "jack", "--transcript", transcript};
  arguments.insert(arguments.end(), flashOptions.begin(), flashOptions.end());
  arguments.insert(arguments.end(), {"flash", "--yes"});
  std::printf("Flashing in real time over JACK (dummy back end) into kelmora-flash emulate...\n");
  std::fflush(stdout);
  const auto start = cli_test::SteadyClock::now();
  cli_test::Child flasher(arguments, dir + "flasher.log");
  const int code = flasher.Wait(std::chrono::minutes(15));
  const double wallS = std::chrono::duration<double>(cli_test::SteadyClock::now() - start).count();
  if (code < 0) flasher.Kill(SIGKILL, std::chrono::milliseconds(0));
  jack.emulator->Kill(SIGINT, std::chrono::seconds(10));
  jack.jackd->Kill(SIGTERM, std::chrono::seconds(10));

  const auto events = cli_test::ReadTranscript(transcript).events;
  const bench::Minimum m = bench::ProtocolMinimum(events);
  std::string digestNote = "(an --image run: compare the emulator's digest yourself)";
  bool identical = false;
  if (flashOptions.empty()) {
    FirmwareImage image;
    if (ReadFirmwareImage(platform::FindFirmwareResource(nullptr), image)) {
      const auto plain = emulator::PlainFirmwareOfTrack(TrackBytes(image));
      identical = jack.emulator->Output().find(cli::FirmwareDigest(plain)) != std::string::npos;
      digestNote = identical ? "identical to the image's plain firmware" : "DIFFERENT from the image's plain firmware";
    }
  }
  std::printf("  flasher exit code %d, emulator firmware %s\n", code, digestNote.c_str());
  bench::PrintMinimum(m);
  std::printf("  whole flasher run %.3f s wall; CPU time: flasher %.3f s, emulator %.3f s\n", wallS,
              flasher.CpuSeconds(), jack.emulator->CpuSeconds());
  return code == 0 && (identical || !flashOptions.empty()) ? 0 : 1;
}
