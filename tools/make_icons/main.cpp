// make_icons OUTPUT_DIR: writes the program's icon files. The output depends
// on nothing but this code, so the committed files can be checked by
// regenerating them and comparing bytes.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/make_icons/ico_file.h"
#include "tools/make_icons/pictures.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace make_icons;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons OUTPUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  struct Output {
    const char* name;
    std::vector<Canvas> images;
  };
  const Output outputs[] = {
      {"application.ico", {DrawApplicationIcon(32), DrawApplicationIcon(16)}},
      {"input_enabled.ico", {DrawPortIcon(PortKind::Input, true)}},
      {"input_disabled.ico", {DrawPortIcon(PortKind::Input, false)}},
      {"output_enabled.ico", {DrawPortIcon(PortKind::Output, true)}},
      {"output_disabled.ico", {DrawPortIcon(PortKind::Output, false)}},
  };
  for (const Output& output : outputs) {
    const std::string path = dir + "/" + output.name;
    if (!WriteFile(path, EncodeIcon(output.images))) {
      std::fprintf(stderr, "make_icons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
