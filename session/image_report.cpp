#include "session/image_report.h"

#include <cerrno>
#include <cstring>

#include "device/keystream.h"
#include "device/upload_engine.h"
#include "device/upload_packets.h"
#include "image/track_walker.h"
#include "texts/user_texts.h"

namespace session {

using device::ClassifyPacket;
using device::PacketKind;
using image::FirmwareImage;
using image::ImageFault;
using image::MetaMarker;
using image::StartTrackWalk;
using image::StatusSysEx;
using image::TrackBytes;
using image::TrackCursor;
using image::TrackEvent;
using image::TrackEventKind;

ImageReport InspectImage(std::span<const std::uint8_t> file) {
  ImageReport report;
  FirmwareImage image;
  ImageFault fault;
  if (!ReadFirmwareImage(file, image, &fault)) {
    report.reason = std::string(fault.text) + " (at byte " + std::to_string(fault.offset) + ")";
    return report;
  }
  const std::span<const std::uint8_t> track = TrackBytes(image);
  if (const device::UploadRefusal refusal = device::CheckUploadable(track); refusal.refused) {
    report.reason = refusal.reason;
    return report;
  }
  report.valid = true;
  report.version = image.version;
  report.development = image.development;
  report.trackLength = image.trackLength;
  std::vector<std::uint8_t> message;
  TrackCursor cursor = StartTrackWalk(track);
  for (TrackEvent event = NextTrackEvent(cursor);
       event.kind == TrackEventKind::Meta || event.kind == TrackEventKind::SysEx;
       event = NextTrackEvent(cursor)) {
    ++report.events;
    if (event.kind == TrackEventKind::Meta) {
      if (event.metaType == MetaMarker) report.markers.emplace_back(event.data.begin(), event.data.end());
      continue;
    }
    ++report.sysex;
    message.assign(1, StatusSysEx);
    message.insert(message.end(), event.data.begin(), event.data.end());
    switch (ClassifyPacket(message)) {
      case PacketKind::Header: ++report.headerPackets; break;
      case PacketKind::Data: ++report.dataPackets; break;
      case PacketKind::Reset: ++report.resetPackets; break;
      case PacketKind::Plain: break;
    }
  }
  return report;
}

ImageReport UseImage(std::span<const std::uint8_t> file) {
  ImageReport report = InspectImage(file);
  if (report.valid &&
      (!image::LoadFirmwareImage(file) || !device::PrepareProbePacket(TrackBytes(image::LoadedFirmwareImage())))) {
    report.valid = false;
    report.reason = texts::ImageNotLoadedReason;
  }
  return report;
}

void PrintImageReport(const ImageReport& report, std::FILE* out) {
  if (!report.valid) {
    std::fprintf(out, "image: invalid\nreason: %s\n", report.reason.c_str());
    return;
  }
  std::string markers;
  for (const std::string& marker : report.markers) {
    if (!markers.empty()) markers += " | ";
    markers += marker;
  }
  std::fprintf(out,
               "image: valid\nversion: %s\ndevelopment-image: %s\ntrack-length: %u\nevents: %u\n"
               "sysex: %u\nheader-packets: %u\ndata-packets: %u\nreset-packets: %u\nmarkers: %s\n",
               report.version.c_str(), report.development ? "yes" : "no", report.trackLength,
               report.events, report.sysex,
               report.headerPackets, report.dataPackets, report.resetPackets, markers.c_str());
}

std::string VersionLabel(const FirmwareImage& image) {
  char label[texts::VersionLabelSize];
  texts::FormatVersionLabel(image.version, image.development, label);
  return label;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  std::uint8_t block[65536];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0) bytes.insert(bytes.end(), block, block + n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    error = path + ": read error";
    return false;
  }
  return true;
}

}  // namespace session
