// kf-small-image IMAGE PLAIN: writes a small valid firmware image (a release
// in miniature: header, reset, 25 data packets, the markers) and the plain
// firmware an instrument holds after a complete upload of it, for flashing
// through the MIDI driver for Wine in seconds rather than minutes.
#include <cstdio>
#include <fstream>

#include "tests/device/test_images.h"

namespace {

bool Write(const char* path, const test_images::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kf-small-image IMAGE PLAIN\n");
    return 2;
  }
  test_images::ImageBuilder builder;
  builder.Version("9.00").Marker("Erasing Flash...").Header().Reset().Marker("Writing Sections...");
  for (int i = 0; i < 24; ++i) builder.Data(116);
  builder.Data(37).Marker("Restarting...").EndOfTrack();
  const test_images::Bytes file = builder.File();
  return Write(argv[1], file) && Write(argv[2], test_images::PlainFirmware(test_images::Track(file))) ? 0 : 1;
}
