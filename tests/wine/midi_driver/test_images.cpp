// kf-test-images DIR IMAGE: the images the flashes through the MIDI driver
// for Wine use, and what the instrument must hold after each. Writes
// DIR/small.mid (a release in miniature: header, reset, 25 data packets, the
// markers; it flashes in seconds rather than minutes) and DIR/small.plain,
// and DIR/image.plain, the plain firmware of the image file IMAGE.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/device/test_images.h"

namespace {

bool Write(const std::string& path, const test_images::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kf-test-images DIR IMAGE\n");
    return 2;
  }
  const std::string dir = argv[1];
  test_images::ImageBuilder builder;
  builder.Version("9.00").Marker("Erasing Flash...").Header().Reset().Marker("Writing Sections...");
  for (int i = 0; i < 24; ++i) builder.Data(116);
  builder.Data(37).Marker("Restarting...").EndOfTrack();
  const test_images::Bytes small = builder.File();
  std::ifstream in(argv[2], std::ios::binary);
  const test_images::Bytes image{std::istreambuf_iterator<char>(in), {}};
  const bool written = Write(dir + "/small.mid", small) &&
                       Write(dir + "/small.plain", test_images::PlainFirmware(test_images::Track(small))) &&
                       Write(dir + "/image.plain", test_images::PlainFirmware(test_images::Track(image)));
  return written && !image.empty() ? 0 : 1;
}
