// The real MIDI path without hardware: a private JACK server with the dummy
// back end, `kelmora-flash --api jack emulate` in one process and
// `kelmora-flash --api jack flash --yes` in another, flashing a small image
// in real time through RtMidi. The emulator's digest of the firmware it
// wrote must be the image's plain firmware. Skipped, with a message, only
// when jackd cannot be started here. Every wait is bounded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/firmware_digest.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

namespace {

using Clock = std::chrono::steady_clock;

// A child process with its output in a file; ended by its id only.
class Child {
 public:
  Child(std::vector<std::string> argv, const std::string& log) : log_(log) {
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() { Kill(SIGKILL, std::chrono::milliseconds(0)); }

  // The exit code once the child has ended within `limit`, else -1.
  int Wait(std::chrono::milliseconds limit) {
    if (ended_) return code_;
    const auto until = Clock::now() + limit;
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return code_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < until);
    return -1;
  }
  // Sends `signal` and waits up to `limit` for the end; SIGKILL after that.
  int Kill(int signal, std::chrono::milliseconds limit) {
    if (pid_ <= 0 || ended_) return code_;
    kill(pid_, signal);
    if (Wait(limit) >= 0) return code_;
    kill(pid_, SIGKILL);
    return Wait(std::chrono::milliseconds(5000));
  }
  std::string Output() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Ended() { return Wait(std::chrono::milliseconds(0)) >= 0; }

 private:
  std::string log_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int code_ = -1;
};

bool OnPath(const char* program) {
  const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace

TEST(RealMidiOverJack, FlashesASmallImageIntoTheEmulator) {
  if (!OnPath("jackd")) GTEST_SKIP() << "jackd is not installed: the JACK test cannot run here";
  const std::string dir = cli_test::TempPath("jack-" + std::to_string(getpid()) + "-");
  const std::string server = "kf-test-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  setenv("JACK_NO_START_SERVER", "1", 1);

  Child jackd({"jackd", "--no-realtime", "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"},
              dir + "jackd.log");

  // The emulator connects once the server is up; until then it fails at once.
  std::unique_ptr<Child> emulator;
  const auto serverDeadline = Clock::now() + std::chrono::seconds(20);
  for (;;) {
    if (jackd.Ended()) GTEST_SKIP() << "jackd could not start here:\n" << jackd.Output();
    emulator = std::make_unique<Child>(std::vector<std::string>{KF_FLASH_EXE, "--api", "jack", "emulate"},
                                       dir + "emulator.log");
    const auto lineDeadline = Clock::now() + std::chrono::seconds(10);
    bool ready = false;
    while (Clock::now() < lineDeadline && !emulator->Ended()) {
      if (emulator->Output().find("emulating a Tarvonic") != std::string::npos) {
        ready = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ready) break;
    emulator->Kill(SIGKILL, std::chrono::milliseconds(0));
    if (Clock::now() > serverDeadline) {
      GTEST_SKIP() << "jackd did not come up within 20 s:\n" << jackd.Output();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }

  test_images::ImageBuilder builder;
  builder.Version("9.00").Marker("Erasing Flash...").Header().Reset().Marker("Writing Sections...");
  for (int i = 0; i < 24; ++i) builder.Data(116);
  builder.Data(37).Marker("Restarting...").EndOfTrack();
  const auto file = builder.File();
  const std::string image = dir + "image.mid";
  cli_test::WriteFile(image, file);

  const auto start = Clock::now();
  Child flasher({KF_FLASH_EXE, "--api", "jack", "--image", image, "--transcript", dir + "transcript.txt",
                 "flash", "--yes"},
                dir + "flasher.log");
  const int code = flasher.Wait(std::chrono::seconds(180));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (code < 0) flasher.Kill(SIGKILL, std::chrono::milliseconds(0));
  const int emulatorCode = emulator->Kill(SIGINT, std::chrono::seconds(10));
  jackd.Kill(SIGTERM, std::chrono::seconds(10));

  const std::string flasherOut = flasher.Output();
  const std::string emulatorOut = emulator->Output();
  ASSERT_EQ(code, 0) << flasherOut << "\n--- emulator:\n" << emulatorOut.substr(0, 4000);
  EXPECT_NE(flasherOut.find("== Upload Complete =="), std::string::npos);
  EXPECT_EQ(emulatorCode, 0);

  const auto plain = test_images::PlainFirmware(test_images::Track(file));
  const std::string expected = "firmware: " + std::to_string(plain.size()) + " bytes " + cli::FirmwareDigest(plain);
  EXPECT_NE(emulatorOut.find(expected), std::string::npos)
      << expected << "\n" << emulatorOut.substr(emulatorOut.size() > 600 ? emulatorOut.size() - 600 : 0);

  // The transcript names the emulator's ports and holds the whole exchange.
  const auto t = cli_test::ReadTranscript(dir + "transcript.txt");
  EXPECT_TRUE(t.malformed.empty());
  std::size_t outs = 0, ins = 0;
  for (const auto& e : t.events) {
    if (e.kind == "OUT" && e.port == "Tarvonic In:MIDI") ++outs;
    if (e.kind == "IN" && e.port == "Tarvonic Out:MIDI") ++ins;
  }
  const std::size_t messages = 2 + 50 + test_images::Messages(test_images::Track(file)).size();
  EXPECT_GE(outs, messages);
  EXPECT_GE(ins, messages - 1);
  std::printf("JACK flash of %zu bytes of image (%zu messages): %.2f s wall, %zu OUT, %zu IN\n", file.size(),
              messages, seconds, outs, ins);
}
