// What the Windows programs ask of Windows: the libraries they import.
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
#include "tests/native/test_files.h"

namespace {

const std::set<std::string> kKnownDlls = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll",
                                          "msvcrt.dll",   "ole32.dll",    "shell32.dll", "user32.dll"};

enum : uint32_t { kImportDirectory = 1, kDelayImportDirectory = 13 };

// A PE image read just far enough to list the libraries it imports.
struct PeImage {
  std::vector<uint8_t> bytes;
  uint32_t sections = 0, section_count = 0, directories = 0, directory_count = 0;

  bool has(uint64_t at, uint64_t length) const { return at <= bytes.size() && length <= bytes.size() - at; }

  bool open() {
    if (!has(0x3C, 4)) return false;
    uint32_t pe = get_u32(&bytes[0x3C]);
    if (!has(pe, 24) || get_u32(&bytes[pe]) != 0x00004550) return false;  // "PE\0\0"
    section_count = get_u16(&bytes[pe + 6]);
    uint32_t optional = pe + 24, optional_size = get_u16(&bytes[pe + 20]);
    if (!has(optional, optional_size) || optional_size < 2) return false;
    bool plus = get_u16(&bytes[optional]) == 0x20B;
    directories = optional + (plus ? 112 : 96);
    if (!has(directories - 4, 4)) return false;
    directory_count = get_u32(&bytes[directories - 4]);
    sections = optional + optional_size;
    return has(sections, uint64_t{section_count} * 40);
  }

  // The file offset of a relative virtual address.
  bool offset_of(uint32_t rva, uint32_t* offset) const {
    for (uint32_t i = 0; i < section_count; ++i) {
      const uint8_t* s = &bytes[sections + 40 * i];
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
    if (k >= directory_count || !has(directories + 8 * k, 8)) return {0, 0};
    return {get_u32(&bytes[directories + 8 * k]), get_u32(&bytes[directories + 8 * k + 4])};
  }

  // Library names of the import directory, lower-cased; false when the
  // directory cannot be read.
  bool imports(std::vector<std::string>* names) const {
    uint32_t at;
    if (!offset_of(directory(kImportDirectory).first, &at)) return false;
    for (;; at += 20) {
      if (!has(at, 20)) return false;
      uint32_t name_rva = get_u32(&bytes[at + 12]);
      if (name_rva == 0) return true;
      uint32_t name;
      if (!offset_of(name_rva, &name)) return false;
      std::string text;
      for (; has(name, 1) && bytes[name] != 0; ++name) text += static_cast<char>(std::tolower(bytes[name]));
      names->push_back(text);
    }
  }
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

INSTANTIATE_TEST_SUITE_P(Programs, WindowsProgram, ::testing::Values("kestrel-stub.exe", "kestrel-uninstall.exe"));

}  // namespace
