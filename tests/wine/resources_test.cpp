// The resources the Windows programs need, as a running program finds them:
// the icon groups, the manifest as Windows applied it, and the version
// Explorer shows for both programs. The others are checked where they are
// used: the robot reads the shipped program's caption (string 1) and pages
// (the templates), and the firmware the instrument receives from it is the
// configured image's (MIDIFILE 108).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource.h"

namespace {

const HINSTANCE Module = GetModuleHandleA(nullptr);

// The group directories (GRPICONDIR) as the resource compiler stored them:
// width, height, colours and bits of each image.
TEST(Resources, IconGroupsHoldSixteenColourImagesOfTheirSizes) {
  const std::pair<int, std::vector<int>> groups[] = {
      {IDI_APPLICATION_ICON, {32, 32, 16, 4, 16, 16, 16, 4}}, {IDI_INPUT_ENABLED, {16, 16, 16, 4}},
      {IDI_OUTPUT_ENABLED, {16, 16, 16, 4}}, {IDI_INPUT_DISABLED, {16, 16, 16, 4}}, {IDI_OUTPUT_DISABLED, {16, 16, 16, 4}}};
  for (const auto& [id, expected] : groups) {
    const HRSRC found = FindResourceA(Module, MAKEINTRESOURCEA(id), RT_GROUP_ICON);
    ASSERT_NE(found, nullptr) << id;
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(Module, found)));
    std::vector<int> entries;
    for (int i = 0; i < (bytes[4] | bytes[5] << 8); ++i) {
      const std::uint8_t* entry = bytes + 6 + 14 * i;
      entries.insert(entries.end(), {entry[0], entry[1], entry[2], entry[6] | entry[7] << 8});
    }
    EXPECT_EQ(entries, expected) << id;
  }
}

// The DPI settings as Windows read them from the manifest into the process's
// activation context: a wrong namespace or a malformed manifest leaves them
// out, and Windows would stretch every window of the program as a bitmap.
std::wstring ManifestSetting(const wchar_t* schema, const wchar_t* name) {
  wchar_t value[64] = {};
  SIZE_T written = 0;
  if (!QueryActCtxSettingsW(0, nullptr, schema, name, value, 64, &written)) return L"(missing)";
  return value;
}

// This test carries the programs' manifest.
TEST(Resources, ManifestGivesStyledControlsAndDpiAwareness) {
  // The common controls loaded are the manifest's assembly from WinSxS, not
  // the system's version 5. (Wine's copy reports 5 from DllGetVersion even
  // there, so the file's place is what tells.)
  char path[MAX_PATH] = {};
  GetModuleFileNameA(LoadLibraryA("comctl32.dll"), path, MAX_PATH);
  std::string loaded = path;
  std::transform(loaded.begin(), loaded.end(), loaded.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_NE(loaded.find("\\winsxs\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6."), std::string::npos)
      << path;
  // Per-monitor v2 first where Windows knows it; older Windows reads dpiAware.
  EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness")
                .rfind(L"PerMonitorV2,", 0),
            0u);
  EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"), L"true");
}

std::string VersionText(const std::vector<char>& block, const char* key) {
  const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr)
    return "(missing)";
  return std::string(value, strnlen(value, length));
}

// What Explorer shows in the shipped programs' properties, read from the files.
TEST(Resources, ProgramsCarryTheProjectsVersion) {
  const struct {
    const char *path, *name, *description;
  } programs[] = {
      {KF_FLASHER_EXE, "kelmora-flasher.exe", "Kelmora Flasher"},
      {KF_FLASH_EXE, "kelmora-flash.exe", "Kelmora Flasher command line"},
  };
  constexpr WORD numbers[] = {KF_VERSION_NUMBERS};
  for (const auto& program : programs) {
    SCOPED_TRACE(program.name);
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeA(program.path, &unused);
    ASSERT_GT(size, 0u) << program.path;
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(program.path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(numbers[1], numbers[0]));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(numbers[3], numbers[2]));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    for (const char* key : {"FileVersion", "ProductVersion"}) EXPECT_EQ(VersionText(block, key), KF_VERSION);
    EXPECT_EQ(VersionText(block, "ProductName"), "Kelmora Flasher");
    EXPECT_EQ(VersionText(block, "FileDescription"), program.description);
    EXPECT_EQ(VersionText(block, "OriginalFilename"), program.name);
    EXPECT_EQ(VersionText(block, "LegalCopyright"), "Copyright (c) the Kelmora Flasher authors");
  }
}

}  // namespace
