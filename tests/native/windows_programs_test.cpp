// What the Windows programs ask of Windows: the libraries they import, the
// manifest they carry, the header values its loader checks.
//
// They import only Known DLLs: Windows takes those from the System folder
// whatever lies beside the program. Any other library a program linked
// statically would be looked for in the program's own folder first, where
// a setup downloaded next to other people's files would load a planted
// copy. The list is that of Windows 7 to 11 (the key KnownDLLs under
// HKLM\System\CurrentControlSet\Control\Session Manager), cut to what the
// programs may use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/pe_header.h"
#include "tests/native/test_files.h"

namespace {

const std::set<std::string> kKnownDlls = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll",
                                          "msvcrt.dll",   "ole32.dll",    "shell32.dll", "user32.dll"};

enum : uint32_t { kImportDirectory = 1, kDelayImportDirectory = 13 };
enum : uint32_t { kManifestType = 24, kManifestId = 1 };

// A PE image read just far enough to list the libraries it imports and to
// find its manifest.
struct PeImage {
  std::vector<uint8_t> bytes;
  PeHeader header = {};

  bool has(uint64_t at, uint64_t length) const { return at <= bytes.size() && length <= bytes.size() - at; }

  bool open() { return read_pe_header(bytes.data(), bytes.size(), &header); }

  // The file offset of a relative virtual address.
  bool offset_of(uint32_t rva, uint32_t* offset) const {
    for (uint32_t i = 0; i < header.section_count; ++i) {
      const uint8_t* s = &bytes[header.sections + kPeSectionEntrySize * i];
      uint32_t size = std::max(get_u32(s + 8), get_u32(s + 16)), address = get_u32(s + 12);
      if (rva >= address && rva - address < size) {
        *offset = get_u32(s + 20) + (rva - address);
        return has(*offset, 1);
      }
    }
    return false;
  }

  // The RVA and size of data directory k.
  std::pair<uint32_t, uint32_t> directory(uint32_t k) const {
    uint32_t entry;
    if (!pe_directory_entry(header, k, &entry)) return {0, 0};
    return {get_u32(&bytes[entry]), get_u32(&bytes[entry + 4])};
  }

  // The entry of resource directory `at` (an offset in the file) with the
  // numeric id `id`, or with any id for -1: what it points to, relative to
  // the resource section.
  bool resource_entry(uint32_t root, uint32_t at, int64_t id, uint32_t* target) const {
    if (!has(at, 16)) return false;
    uint32_t count = uint32_t{get_u16(&bytes[at + 12])} + get_u16(&bytes[at + 14]);
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t e = at + 16 + 8 * i;
      if (!has(e, 8)) return false;
      uint32_t name = get_u32(&bytes[e]);
      if (id < 0 || name == id) {
        *target = get_u32(&bytes[e + 4]) & 0x7FFFFFFFu;
        return has(uint64_t{root} + *target, 16);
      }
    }
    return false;
  }

  // The application manifest: resource type 24, id 1, its first language.
  bool manifest(std::string* text) const {
    uint32_t root, type, id, data;
    if (!offset_of(directory(kPeDirectoryResources).first, &root) ||
        !resource_entry(root, root, kManifestType, &type) || !resource_entry(root, root + type, kManifestId, &id) ||
        !resource_entry(root, root + id, -1, &data))
      return false;
    uint32_t at;
    const uint8_t* entry = &bytes[root + data];
    if (!offset_of(get_u32(entry), &at) || !has(at, get_u32(entry + 4))) return false;
    text->assign(reinterpret_cast<const char*>(&bytes[at]), get_u32(entry + 4));
    return true;
  }

  // The NUL-terminated text at an RVA; false when it leaves the file.
  bool text_at(uint32_t rva, std::string* text) const {
    uint32_t at;
    if (!offset_of(rva, &at)) return false;
    for (; has(at, 1) && bytes[at] != 0; ++at) *text += static_cast<char>(bytes[at]);
    return has(at, 1);
  }

  // Library names of the import directory, lower-cased, and if `calls` is
  // given the calls imported by name from each; false when the directory
  // cannot be read.
  bool imports(std::vector<std::string>* names, std::vector<std::string>* calls = nullptr) const {
    uint32_t at;
    if (!offset_of(directory(kImportDirectory).first, &at)) return false;
    for (;; at += 20) {
      if (!has(at, 20)) return false;
      uint32_t name_rva = get_u32(&bytes[at + 12]);
      if (name_rva == 0) return true;
      std::string text;
      if (!text_at(name_rva, &text)) return false;
      for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      names->push_back(text);
      // The lookup table, or where it is left out the address table.
      uint32_t table_rva = get_u32(&bytes[at]) ? get_u32(&bytes[at]) : get_u32(&bytes[at + 16]);
      for (uint32_t entry = table_rva; calls; entry += 4) {
        uint32_t slot;
        if (!offset_of(entry, &slot) || !has(slot, 4)) return false;
        uint32_t value = get_u32(&bytes[slot]);
        if (value == 0) break;
        if (value & 0x80000000u) continue;  // by ordinal
        std::string call;
        if (!text_at(value + 2, &call)) return false;
        calls->push_back(call);
      }
    }
  }
};

// Calls that the first Windows 95 (4.00.950) lacks, or has only in later
// releases, among those the programs might use. Its loader refuses a
// program that imports any of them, so the programs look these up at run
// time. From the Windows 95/98 requirements of each call in the Platform
// SDK of 2000 and the Win32 API differences paper of Windows 95 OSR 2.
const std::set<std::string> kAbsentFromWindows95 = {
    "GetFileAttributesExA",      // Windows 98, NT 4.0
    "GetDiskFreeSpaceExA",       // Windows 95 OSR 2
    "MoveFileExA",               // NT only; Windows 95 uses WININIT.INI
    "MoveFileWithProgressA",     // Windows 2000
    "CreateHardLinkA",           // Windows 2000
    "SetDllDirectoryA",          // XP SP1
    "SetDefaultDllDirectories",  // Windows 7 with KB2533623
    "GetLongPathNameA",          // Windows 98
    "OpenProcessToken",          // NT only
    "LookupPrivilegeValueA",     // NT only
    "AdjustTokenPrivileges",     // NT only
    "RegDeleteKeyExA",           // XP x64
    "AllowSetForegroundWindow",  // Windows 98, 2000
    "GetFileSizeEx",             // Windows 2000
    "SetFilePointerEx",          // Windows 2000
    "IsDebuggerPresent",         // Windows 98, NT 4.0
    "SHGetFolderPathA",          // shfolder.dll, Windows 2000
    "SHGetSpecialFolderPathA",   // shell32 4.71 (Internet Explorer 4)
    "SHCreateDirectoryExA",      // Windows 2000
    "InitCommonControlsEx",      // comctl32 4.70 (Internet Explorer 3)
    "GetSystemWow64DirectoryA",  // XP
};

class WindowsProgram : public ::testing::TestWithParam<const char*> {
 protected:
  PeImage image;
  void SetUp() override {
    image.bytes = read_bytes(std::string(KESTREL_BINARY_DIR) + "/share/kestrel/" + GetParam());
    ASSERT_TRUE(image.open()) << GetParam();
  }
};

TEST_P(WindowsProgram, ImportsOnlyKnownDllsAndLoadsNoneLate) {
  std::vector<std::string> names;
  ASSERT_TRUE(image.imports(&names)) << GetParam();
  EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "kernel32.dll"));
  for (const std::string& name : names) EXPECT_TRUE(kKnownDlls.count(name)) << GetParam() << " imports " << name;
  // Delay-loaded libraries are looked for by name at their first use.
  EXPECT_EQ(0u, image.directory(kDelayImportDirectory).first) << GetParam();
}

// Administrator rights (which the build may change for a per-user
// product), the Windows versions the program knows, so that none treats it
// as an old program, system DPI awareness and common controls 6.
TEST_P(WindowsProgram, CarriesItsManifest) {
  std::string manifest;
  ASSERT_TRUE(image.manifest(&manifest)) << GetParam();
  EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"));
  for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
    EXPECT_NE(std::string::npos, manifest.find(std::string("<supportedOS Id=\"{") + os + "}\"/>")) << os;
  EXPECT_NE(std::string::npos, manifest.find(">true</dpiAware>"));
  EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
}

// Header values that both the Windows 95 family and NT load: a PE32 GUI
// program for i386, system and subsystem version 4.0, sections 4 KiB apart
// in memory and 512 bytes apart in the file.
TEST_P(WindowsProgram, LoadsOnBothWindowsFamilies) {
  uint32_t pe = get_u32(image.bytes.data() + 0x3C);
  ASSERT_TRUE(image.has(pe, 24 + 72)) << GetParam();
  const uint8_t* optional = &image.bytes[pe + 24];
  EXPECT_EQ(0x14Cu, get_u16(&image.bytes[pe + 4])) << GetParam();
  EXPECT_EQ(0x10Bu, get_u16(optional)) << GetParam();
  EXPECT_EQ(2u, get_u16(optional + 68)) << GetParam();
  EXPECT_EQ(4096u, get_u32(optional + 32)) << GetParam();
  EXPECT_EQ(512u, get_u32(optional + 36)) << GetParam();
  EXPECT_EQ(4u, get_u16(optional + 40)) << GetParam();
  EXPECT_EQ(0u, get_u16(optional + 42)) << GetParam();
  EXPECT_EQ(4u, get_u16(optional + 48)) << GetParam();
  EXPECT_EQ(0u, get_u16(optional + 50)) << GetParam();
}

// The Windows 95 family must load the programs: no call it lacks is
// imported.
TEST_P(WindowsProgram, ImportsOnlyCallsTheWindows95FamilyHas) {
  std::vector<std::string> names, calls;
  ASSERT_TRUE(image.imports(&names, &calls)) << GetParam();
  EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(), "CreateFileA")) << GetParam();
  for (const std::string& call : calls) EXPECT_FALSE(kAbsentFromWindows95.count(call)) << GetParam() << " imports " << call;
}

INSTANTIATE_TEST_SUITE_P(Programs, WindowsProgram, ::testing::Values("kestrel-stub.exe", "kestrel-uninstall.exe"));

}  // namespace
