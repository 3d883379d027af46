// The program's resources as the running program finds them: the compiled
// templates, string, icon groups and image, read back through the same calls
// the shell uses; the shipped programs' version as Windows reads it. Resource compilers add styles of their own accord, so the
// templates are checked field by field against the layout the pages expect.
#include <windows.h>
#include <commctrl.h>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/property_sheet.h"
#include "image/firmware_image.h"
#include "image/track_walker.h"
#include "platform/services.h"
#include "resources/resource.h"
#include "ui/win32_ui.h"

using namespace image;
using namespace ui;

namespace {

const HINSTANCE ModuleInstance = GetModuleHandleA(nullptr);

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::Install({.module = ModuleInstance}); }
};

// ---------------------------------------------------------------- templates

constexpr DWORD ChildControl = WS_CHILD | WS_VISIBLE;
constexpr DWORD PageStyle = WS_CHILD | WS_DISABLED | WS_CAPTION | DS_SETFONT;

// A predefined control class may be stored as its atom or by name; the
// dialog manager takes either.
constexpr std::uint16_t ButtonAtom = 0x80, EditAtom = 0x81, StaticAtom = 0x82, ComboAtom = 0x85;

struct ExpectedControl {
  std::uint16_t id;
  std::uint16_t classAtom;  // 0: the class can only be given by name
  const char* className;
  const char* text;
  short x, y, cx, cy;
  DWORD style;
};

struct ExpectedPage {
  std::uint32_t id;
  const char* caption;
  short cx, cy;
  std::vector<ExpectedControl> controls;
};

const ExpectedPage FlashPage = {
    IDD_FLASH_PAGE, "Flash", 212, 129,
    {
        {0xFFFF, StaticAtom, "Static", "Detected Devices:", 10, 10, 160, 8,
         ChildControl | SS_LEFT | WS_GROUP},
        {1001, ComboAtom, "ComboBox", "", 10, 20, 150, 101,
         ChildControl | CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
        {1004, EditAtom, "Edit", "", 10, 44, 195, 48,
         ChildControl | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
        {1003, ButtonAtom, "Button", "Start Flash", 20, 100, 175, 14,
         ChildControl | BS_PUSHBUTTON | WS_TABSTOP},
        {1013, ButtonAtom, "Button", "Scan", 166, 20, 42, 14,
         ChildControl | BS_PUSHBUTTON | WS_TABSTOP},
    }};

const ExpectedPage PortsPage = {
    IDD_PORTS_PAGE, "Ports", 212, 141,
    {
        {0xFFFF, StaticAtom, "Static", "Ports-List, Double-Click to Enable/Disable", 8, 11, 192, 8,
         ChildControl | SS_LEFT | WS_GROUP},
        {1016, 0, "SysListView32", "List2", 8, 24, 196, 96,
         ChildControl | LVS_LIST | LVS_SHAREIMAGELISTS | WS_BORDER | WS_TABSTOP},
        {1017, ButtonAtom, "Button", "Disable All", 8, 124, 68, 14,
         ChildControl | BS_PUSHBUTTON | WS_TABSTOP},
        {1018, ButtonAtom, "Button", "Enable All", 136, 124, 68, 14,
         ChildControl | BS_PUSHBUTTON | WS_TABSTOP},
    }};

// Walks a classic DLGTEMPLATE: fixed header, then WORD-aligned variable
// fields (menu, class, title as "FFFF, ordinal" or a UTF-16 string), then
// DWORD-aligned items.
class TemplateReader {
 public:
  explicit TemplateReader(const void* start) : base_(static_cast<const std::uint8_t*>(start)) {}

  template <typename T>
  T Read() {
    T value;
    std::memcpy(&value, base_ + at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  void AlignTo(size_t bytes) { at_ = (at_ + bytes - 1) / bytes * bytes; }
  std::string ReadString() {
    std::string text;
    for (std::uint16_t c = Read<std::uint16_t>(); c != 0; c = Read<std::uint16_t>())
      text += static_cast<char>(c);  // the templates are plain ASCII
    return text;
  }
  // A name-or-ordinal field: the ordinal, or 0 and the name in `name`.
  std::uint16_t ReadNameOrOrdinal(std::string& name) {
    std::uint16_t first;
    std::memcpy(&first, base_ + at_, sizeof first);
    if (first == 0xFFFF) {
      at_ += 2;
      return Read<std::uint16_t>();
    }
    name = ReadString();
    return 0;
  }

 private:
  const std::uint8_t* base_;
  size_t at_ = 0;
};

void ExpectTemplate(const ExpectedPage& page) {
  SCOPED_TRACE(page.caption);
  const DLGTEMPLATE* found = LoadDialogTemplate(page.id);
  ASSERT_NE(found, nullptr);
  TemplateReader reader(found);
  EXPECT_EQ(reader.Read<DWORD>(), PageStyle);
  EXPECT_EQ(reader.Read<DWORD>(), 0u) << "extended style";
  ASSERT_EQ(reader.Read<WORD>(), page.controls.size());
  EXPECT_EQ(reader.Read<short>(), 0);
  EXPECT_EQ(reader.Read<short>(), 0);
  EXPECT_EQ(reader.Read<short>(), page.cx);
  EXPECT_EQ(reader.Read<short>(), page.cy);
  std::string name;
  EXPECT_EQ(reader.ReadNameOrOrdinal(name), 0) << "menu";
  EXPECT_EQ(name, "");
  EXPECT_EQ(reader.ReadNameOrOrdinal(name), 0) << "class";
  EXPECT_EQ(name, "");
  EXPECT_EQ(reader.ReadString(), page.caption);
  EXPECT_EQ(reader.Read<WORD>(), 8) << "font size";
  EXPECT_EQ(reader.ReadString(), "MS Sans Serif");
  for (const ExpectedControl& control : page.controls) {
    SCOPED_TRACE(control.text);
    reader.AlignTo(4);
    EXPECT_EQ(reader.Read<DWORD>(), control.style);
    EXPECT_EQ(reader.Read<DWORD>(), 0u) << "extended style";
    EXPECT_EQ(reader.Read<short>(), control.x);
    EXPECT_EQ(reader.Read<short>(), control.y);
    EXPECT_EQ(reader.Read<short>(), control.cx);
    EXPECT_EQ(reader.Read<short>(), control.cy);
    EXPECT_EQ(reader.Read<WORD>(), control.id);
    std::string className;
    const std::uint16_t atom = reader.ReadNameOrOrdinal(className);
    if (atom != 0) {
      EXPECT_EQ(atom, control.classAtom);
    } else {
      EXPECT_STRCASEEQ(className.c_str(), control.className);
    }
    std::string text;
    EXPECT_EQ(reader.ReadNameOrOrdinal(text), 0) << "text is a string";
    EXPECT_EQ(text, control.text);
    EXPECT_EQ(reader.Read<WORD>(), 0) << "no creation data";
  }
}

TEST_F(ShellTest, PageTemplatesHaveTheLayoutThePagesUse) {
  ExpectTemplate(FlashPage);
  ExpectTemplate(PortsPage);
}

TEST_F(ShellTest, LoadDialogTemplateUsesTheLowSixteenBitsOfTheId) {
  const DLGTEMPLATE* flash = LoadDialogTemplate(IDD_FLASH_PAGE);
  ASSERT_NE(flash, nullptr);
  EXPECT_EQ(LoadDialogTemplate(0x10000u | IDD_FLASH_PAGE), flash);
  EXPECT_NE(LoadDialogTemplate(IDD_PORTS_PAGE), flash);
  EXPECT_EQ(LoadDialogTemplate(111), nullptr);
  EXPECT_EQ(LoadDialogTemplate(IDS_SHEET_CAPTION), nullptr) << "a string is not a dialog";
}

// ------------------------------------------------------------------- pages

TEST_F(ShellTest, PageTableListsFlashThenPorts) {
  EXPECT_EQ(PageTable[0].templateId, 109u);
  EXPECT_EQ(PageTable[1].templateId, 110u);
}

TEST_F(ShellTest, CreatePropertyPageRecordsTemplateAndHandle) {
  for (const PageDescriptor& entry : PageTable) {
    PageDescriptor descriptor = entry;
    HPROPSHEETPAGE page = CreatePropertyPage(descriptor);
    ASSERT_NE(page, nullptr) << descriptor.templateId;
    EXPECT_EQ(descriptor.pageHandle, page);
    EXPECT_EQ(descriptor.dialogTemplate, LoadDialogTemplate(descriptor.templateId));
    EXPECT_TRUE(DestroyPropertySheetPage(page));
  }
}

TEST_F(ShellTest, PageWithoutTemplateIsNotCreated) {
  PageDescriptor missing = {111, nullptr, nullptr, nullptr};
  EXPECT_EQ(CreatePropertyPage(missing), nullptr);
  EXPECT_EQ(missing.dialogTemplate, nullptr);
  EXPECT_EQ(missing.pageHandle, nullptr);
}

TEST_F(ShellTest, DefaultPageProcAcceptsOnlyInitDialog) {
  struct Case {
    UINT message;
    INT_PTR result;
  };
  const Case cases[] = {
      {WM_INITDIALOG, TRUE}, {WM_COMMAND, FALSE}, {WM_NOTIFY, FALSE},
      {WM_DESTROY, FALSE},   {WM_CLOSE, FALSE},   {WM_USER + 100, FALSE},
  };
  for (const Case& c : cases) EXPECT_EQ(DefaultPageProc(nullptr, c.message, 0, 0), c.result) << c.message;
}

// --------------------------------------------------------- strings, icons

TEST_F(ShellTest, StringOneIsTheCaption) {
  char caption[CaptionBufferSize] = {};
  EXPECT_EQ(LoadStringA(ModuleInstance, IDS_SHEET_CAPTION, caption, CaptionBufferSize), 15);
  EXPECT_STREQ(caption, "Kelmora Flasher");
}

struct GroupEntry {
  int width, height, colours, bits;
};

// The group directory as the resource compiler stored it (GRPICONDIR).
std::vector<GroupEntry> IconGroup(int id) {
  std::vector<GroupEntry> entries;
  HRSRC found = FindResourceA(ModuleInstance, MAKEINTRESOURCEA(id), RT_GROUP_ICON);
  if (found == nullptr) return entries;
  const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(ModuleInstance, found)));
  const int count = bytes[4] | bytes[5] << 8;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* entry = bytes + 6 + 14 * i;
    entries.push_back({entry[0], entry[1], entry[2], entry[6] | entry[7] << 8});
  }
  return entries;
}

TEST_F(ShellTest, IconGroupsHoldSixteenColourImagesOfTheirSizes) {
  struct Case {
    int id;
    std::vector<std::pair<int, int>> sizes;
  };
  const Case cases[] = {
      {IDI_APPLICATION_ICON, {{32, 32}, {16, 16}}},
      {IDI_INPUT_ENABLED, {{16, 16}}},
      {IDI_OUTPUT_ENABLED, {{16, 16}}},
      {IDI_INPUT_DISABLED, {{16, 16}}},
      {IDI_OUTPUT_DISABLED, {{16, 16}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    const std::vector<GroupEntry> group = IconGroup(c.id);
    ASSERT_EQ(group.size(), c.sizes.size());
    for (size_t i = 0; i < group.size(); ++i) {
      EXPECT_EQ(group[i].width, c.sizes[i].first);
      EXPECT_EQ(group[i].height, c.sizes[i].second);
      EXPECT_EQ(group[i].colours, 16);
      EXPECT_EQ(group[i].bits, 4);
    }
  }
}

TEST_F(ShellTest, IconsLoadAtTheRequestedSizes) {
  struct Case {
    int id, size;
  };
  const Case cases[] = {{IDI_APPLICATION_ICON, 32}, {IDI_APPLICATION_ICON, 16},
                        {IDI_INPUT_ENABLED, 16},    {IDI_INPUT_DISABLED, 16},
                        {IDI_OUTPUT_ENABLED, 16},   {IDI_OUTPUT_DISABLED, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    HICON icon = static_cast<HICON>(LoadImageA(ModuleInstance, MAKEINTRESOURCEA(c.id), IMAGE_ICON,
                                               c.size, c.size, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP mask = {};
    GetObjectA(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, c.size);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

// ------------------------------------------------------ version, manifest

std::string VersionText(const std::vector<char>& block, const char* key) {
  const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) ||
      value == nullptr) {
    return "(missing)";
  }
  return std::string(value, strnlen(value, length));
}

// What Explorer shows in the shipped programs' properties, read from the files.
TEST_F(ShellTest, ProgramsCarryTheProjectsVersion) {
  struct Program {
    const char* path;
    const char* name;
    const char* description;
  };
  const Program programs[] = {
      {KF_FLASHER_EXE, "kelmora-flasher.exe", "Kelmora Flasher"},
      {KF_FLASH_EXE, "kelmora-flash.exe", "Kelmora Flasher command line"},
  };
  constexpr WORD numbers[] = {KF_VERSION_NUMBERS};
  for (const Program& program : programs) {
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
    EXPECT_EQ(VersionText(block, "FileVersion"), KF_VERSION);
    EXPECT_EQ(VersionText(block, "ProductVersion"), KF_VERSION);
    EXPECT_EQ(VersionText(block, "ProductName"), "Kelmora Flasher");
    EXPECT_EQ(VersionText(block, "FileDescription"), program.description);
    EXPECT_EQ(VersionText(block, "OriginalFilename"), program.name);
    EXPECT_EQ(VersionText(block, "LegalCopyright"), "Copyright (c) the Kelmora Flasher authors");
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
TEST_F(ShellTest, ManifestGivesStyledControlsAndDpiAwareness) {
  // The common controls loaded are the manifest's assembly from WinSxS, not
  // the system's version 5. (Wine's copy reports 5 from DllGetVersion even
  // there, so the file's place is what tells.)
  char path[MAX_PATH] = {};
  GetModuleFileNameA(GetModuleHandleA("comctl32.dll"), path, MAX_PATH);
  std::string loaded = path;
  for (char& c : loaded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(loaded.find("\\winsxs\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6."),
            std::string::npos)
      << path;

  // Per-monitor v2 first where Windows knows it; older Windows reads dpiAware.
  const std::wstring awareness =
      ManifestSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness");
  EXPECT_EQ(awareness.rfind(L"PerMonitorV2,", 0), 0u) << std::string(awareness.begin(), awareness.end());
  EXPECT_EQ(ManifestSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
            L"true");
}

// ---------------------------------------------------------- firmware image

TEST_F(ShellTest, EmbeddedImageIsTheConfiguredFileAndUsable) {
  HRSRC found = FindResourceA(ModuleInstance, MAKEINTRESOURCEA(IDR_FIRMWARE_IMAGE), "MIDIFILE");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(SizeofResource(ModuleInstance, found), KF_EXPECTED_IMAGE_SIZE);
  ASSERT_TRUE(LoadFirmwareImage(ModuleInstance));
  EXPECT_FALSE(FindHeaderPacket(TrackBytes(LoadedFirmwareImage())).empty());
}

}  // namespace
