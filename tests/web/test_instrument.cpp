// The browser tests' instrument and images, on the project's own emulator.
//
//   kf-web-test-instrument images DIR
//       writes small.mid (the release's shape with 16 data packets, V2.00)
//       and older.mid (the same with 4, V1.50: not newer than the virtual
//       Tarvonic's V1.90)
//   kf-web-test-instrument play [--faults SPEC] [--image FILE]
//       the virtual Tarvonic in real time: each line on stdin is a message
//       the page sent, in hex; each answer goes to stdout as a line "A <hex>"
//       the moment it leaves. At the end of stdin: "firmware <bytes> whole"
//       when it holds the image's plain firmware (the embedded image's, or
//       FILE's), "firmware <bytes> different" otherwise.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/real_time_instrument.h"
#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "platform/firmware_resource.h"
#include "session/transcript.h"
#include "tests/device/test_images.h"

namespace {

bool Write(const std::string& path, const test_images::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

test_images::Bytes Older() {
  test_images::ImageBuilder image;
  image.Version("1.50").Command(0x39).Header().Command(0x11).Marker("Erasing Flash...").Reset()
      .Marker("Writing Sections...");
  for (int i = 0; i < 4; ++i) image.Data();
  return image.Marker("Restarting...").Command(0x38).EndOfTrack().File();
}

std::vector<std::uint8_t> Hex(const std::string& line) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at + 1 < line.size(); at += 3) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(at, 2), nullptr, 16)));
  }
  return bytes;
}

int Play(const std::string& faults, const std::string& imagePath) {
  test_images::Bytes file;
  if (!imagePath.empty()) {
    std::ifstream in(imagePath, std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), {});
  } else {
    const auto embedded = platform::FindFirmwareResource(nullptr);
    file.assign(embedded.begin(), embedded.end());
  }
  image::FirmwareImage image;
  if (!image::ReadFirmwareImage(file, image)) {
    std::fprintf(stderr, "not an image: %s\n", imagePath.c_str());
    return 2;
  }
  emulator::InstrumentSetup setup;
  if (!faults.empty()) {
    emulator::FaultRates rates;
    if (!emulator::ParseFaultRates(faults, rates)) return 2;
    setup.faults = rates;
  }
  std::mutex out;
  setup.answer = [&out](std::span<const std::uint8_t> message, std::uint32_t) {
    std::lock_guard lock(out);
    std::printf("A %s\n", session::HexBytes(message).c_str());
    std::fflush(stdout);
  };
  emulator::RealTimeInstrument instrument(std::move(setup));
  for (std::string line; std::getline(std::cin, line);) instrument.Hear(Hex(line));
  instrument.Stop();
  const auto firmware = instrument.Firmware();
  const bool whole = firmware == emulator::PlainFirmwareOfTrack(image::TrackBytes(image));
  std::printf("firmware %zu %s\n", firmware.size(), whole ? "whole" : "different");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "images") {
    return Write(args[1] + "/small.mid", test_images::ReleaseShape(16)) && Write(args[1] + "/older.mid", Older())
               ? 0
               : 1;
  }
  if (!args.empty() && args[0] == "play") {
    std::string faults, image;
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
      if (args[i] == "--faults") faults = args[i + 1];
      if (args[i] == "--image") image = args[i + 1];
    }
    return Play(faults, image);
  }
  std::fprintf(stderr, "usage: kf-web-test-instrument images DIR | play [--faults SPEC] [--image FILE]\n");
  return 2;
}
