// kf-validate-image IMAGE: the build's check of the image it embeds. Reads the
// image with the program's own reader and applies the upload's own check
// (device::CheckUploadable), without which the program would refuse to start.
// Exit 0 when the image is usable, 1 otherwise, with the reason on stderr.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "device/upload_packets.h"
#include "image/firmware_image.h"
#include "image/track_walker.h"

using image::FindHeaderPacket;
using image::FirmwareImage;
using image::ImageFault;
using image::NextTrackEvent;
using image::StartTrackWalk;
using image::TrackBytes;
using image::TrackCursor;
using image::TrackEventKind;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kf-validate-image IMAGE\n");
    return 2;
  }
  const char* path = argv[1];
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot be read\n", path);
    return 1;
  }
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};

  FirmwareImage image;
  ImageFault fault;
  if (!ReadFirmwareImage(bytes, image, &fault)) {
    std::fprintf(stderr, "%s: invalid firmware image: %s (byte %zu)\n", path, fault.text,
                 fault.offset);
    return 1;
  }
  const device::UploadRefusal refusal = device::CheckUploadable(TrackBytes(image));
  if (refusal.refused) {
    std::fprintf(stderr, "%s: invalid firmware image: %s\n", path, refusal.reason);
    return 1;
  }

  std::size_t events = 0;
  TrackCursor cursor = StartTrackWalk(TrackBytes(image));
  while (NextTrackEvent(cursor).kind != TrackEventKind::End) ++events;
  std::printf("%s: firmware image version \"%s\", %zu bytes, track %u bytes, %zu events, header packet %zu bytes\n",
              path, image.version, bytes.size(), static_cast<unsigned>(image.trackLength), events,
              FindHeaderPacket(TrackBytes(image)).size());
  return 0;
}
