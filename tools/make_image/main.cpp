// kf-make-image: writes the development firmware image.
//
//   kf-make-image IMAGE            write the image to IMAGE
//   kf-make-image --plain FILE     also write the plain firmware (the data
//                                  packets' descrambled payloads, in order)
//   kf-make-image --check IMAGE    compare IMAGE with what this tool makes;
//                                  exit 1 on any difference
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/make_image/development_image.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: kf-make-image [IMAGE] [--plain FILE] [--check IMAGE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string output, plainOutput, checkPath;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--plain") == 0 && hasValue) {
      plainOutput = argv[++i];
    } else if (std::strcmp(argv[i], "--check") == 0 && hasValue) {
      checkPath = argv[++i];
    } else if (argv[i][0] != '-' && output.empty()) {
      output = argv[i];
    } else {
      return Usage();
    }
  }
  if (output.empty() && plainOutput.empty() && checkPath.empty()) return Usage();

  const DevelopmentImage image = BuildDevelopmentImage();
  if (image.file.size() != DevelopmentImageSize) {
    std::fprintf(stderr, "kf-make-image: built %zu bytes instead of %zu\n", image.file.size(),
                 DevelopmentImageSize);
    return 1;
  }
  if (!output.empty() && !WriteFile(output, image.file)) {
    std::fprintf(stderr, "kf-make-image: cannot write %s\n", output.c_str());
    return 1;
  }
  if (!plainOutput.empty() && !WriteFile(plainOutput, image.plainFirmware)) {
    std::fprintf(stderr, "kf-make-image: cannot write %s\n", plainOutput.c_str());
    return 1;
  }
  if (!checkPath.empty()) {
    std::vector<std::uint8_t> stored;
    if (!ReadFile(checkPath, stored)) {
      std::fprintf(stderr, "kf-make-image: cannot read %s\n", checkPath.c_str());
      return 1;
    }
    if (stored != image.file) {
      std::size_t at = 0;
      while (at < stored.size() && at < image.file.size() && stored[at] == image.file[at]) ++at;
      std::fprintf(stderr, "kf-make-image: %s differs from the generated image at byte %zu (%zu bytes, expected %zu)\n",
                   checkPath.c_str(), at, stored.size(), image.file.size());
      return 1;
    }
    std::printf("%s: identical to the generated image (%zu bytes)\n", checkPath.c_str(), stored.size());
  }
  return 0;
}
