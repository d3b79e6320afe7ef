// Free space and cluster size of a drive, and the space check over a FileList.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "base/globals.h"
#include "base/system_libraries.h"
#include "install/destination.h"
#include "install/safe_replace.h"
#include "ui/disk_space.h"

// Stand-in for the engine's destination paths: every item lies directly in
// InstallDir under its own name; none is in use.
int item_destination(const uint8_t* entry) {
  lstrcpyA(DestPath, InstallDir);
  lstrcatA(DestPath, entry_string(entry, 0));
  return 0;
}

// The free-space query of the system, or, while FakeFreeBytes is set, one
// that reports that many bytes free and notes the root it was asked about.
static uint64_t FakeFreeBytes;
static std::string AskedRoot;
static BOOL WINAPI fake_free_space(const char* root, ULARGE_INTEGER* available, ULARGE_INTEGER* total,
                                   ULARGE_INTEGER* free) {
  AskedRoot = root;
  available->QuadPart = free->QuadPart = FakeFreeBytes;
  total->QuadPart = FakeFreeBytes * 2;
  return TRUE;
}
DiskFreeSpaceEx disk_free_space_ex() {
  if (FakeFreeBytes) return fake_free_space;
  return reinterpret_cast<DiskFreeSpaceEx>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA")));
}

namespace {

struct Item {
  const char* name;
  uint32_t size;
  uint8_t kind = kKindFile;
  uint8_t folder = kFolderInstallDir;
};

// A FileList of the given items, made current.
class FileList {
 public:
  explicit FileList(const std::vector<Item>& items) {
    for (const Item& item : items) {
      std::vector<uint8_t> entry(kEntryFixedSize, 0);
      entry.insert(entry.end(), item.name, item.name + std::strlen(item.name) + 1);
      entry.insert(entry.end(), 5, 0);  // the other five strings, empty
      put_u32(entry, kEntryLength, static_cast<uint32_t>(entry.size()));
      put_u32(entry, kEntrySize, item.size);
      entry[kEntryKind] = item.kind;
      entry[kEntryFolderCode] = item.folder;
      offsets_.push_back(bytes_.size());
      bytes_.insert(bytes_.end(), entry.begin(), entry.end());
    }
    CurrentFirstEntry = bytes_.empty() ? nullptr : bytes_.data();
    CurrentFileCount = static_cast<uint32_t>(items.size());
  }
  ~FileList() {
    CurrentFirstEntry = nullptr;
    CurrentFileCount = 0;
  }
  uint8_t kind(size_t i) const { return bytes_[offsets_[i] + kEntryKind]; }

 private:
  static void put_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
  }
  std::vector<uint8_t> bytes_;
  std::vector<size_t> offsets_;
};

void write_file(const std::string& path, size_t size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  std::vector<char> bytes(size, 'k');
  DWORD written = 0;
  if (size) WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(size, written);
}

TEST(DriveFigures, UnknownDrivesGiveTheFallbacks) {
  EXPECT_EQ(0xFFFFFFFFu, free_space_kb("Q:\\nowhere"));
  EXPECT_EQ(32u, cluster_size_kb("Q:\\nowhere"));
  EXPECT_EQ(0xFFFFFFFFu, free_space_kb("\\\\no-such-server\\share\\"));
}

TEST(DriveFigures, ADriveLetterPathIsAskedAtItsRoot) {
  uint32_t root = free_space_kb("C:\\");
  ASSERT_NE(0xFFFFFFFFu, root);
  // A folder that does not exist still names the drive.
  uint32_t deep = free_space_kb("C:\\no\\such\\folder");
  ASSERT_NE(0xFFFFFFFFu, deep);
  EXPECT_NEAR(static_cast<double>(root), static_cast<double>(deep), 1024.0);
  EXPECT_NE(0xFFFFFFFFu, free_space_kb("C:"));
  EXPECT_EQ(cluster_size_kb("C:\\"), cluster_size_kb("C:\\no\\such\\folder"));
}

// Terabyte drives: the free space in bytes, where 32-bit cluster sums
// would wrap around at 1 TiB and show 3 TiB as nothing.
TEST(DriveFigures, TebibytesFreeAreCountedWhole) {
  FakeFreeBytes = 3ull << 40;
  EXPECT_EQ(3u << 30, free_space_kb("C:\\Program Files\\Kestrel"));
  EXPECT_EQ("C:\\", AskedRoot);
  lstrcpyA(InstallDir, "C:\\KestrelSpace\\");
  {
    FileList list({{"setup.bin", 10u << 20}});  // a 10 MB setup
    EXPECT_EQ(0, space_check());
  }
  // Beyond 4 TiB the kilobytes stay just below "unknown".
  FakeFreeBytes = 5ull << 40;
  EXPECT_EQ(0xFFFFFFFEu, free_space_kb("D:\\"));
  FakeFreeBytes = 0;
  InstallDir[0] = '\0';
}

// The check against the small drive the test harness provides (a 64 KiB
// file system as K:), where the free space is known and stays put.
class SpaceCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* drive = std::getenv("KESTREL_FULL_DRIVE");
    if (!drive || !*drive) GTEST_SKIP() << "no small drive in this run";
    root_ = std::string(drive) + ":\\";
    free_ = free_space_kb(root_.c_str());
    unit_ = cluster_size_kb(root_.c_str());
    if (free_ == 0xFFFFFFFFu || free_ > 1024 || free_ < 8 * unit_) GTEST_SKIP() << "drive " << root_ << " not small";
    lstrcpyA(InstallDir, root_.c_str());
  }
  void TearDown() override {
    for (const std::string& f : files_) {
      SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(f.c_str());
    }
    InstallDir[0] = '\0';
    ReadOnlyFilesFound = false;
  }
  std::string file(const char* name, size_t size) {
    std::string path = root_ + name;
    write_file(path, size);
    files_.push_back(path);
    free_ = free_space_kb(root_.c_str());
    return path;
  }
  // Bytes of `kb` kilobytes.
  static uint32_t kb(uint32_t kilobytes) { return kilobytes * 1024; }
  std::string root_;
  uint32_t free_ = 0, unit_ = 0;
  std::vector<std::string> files_;
};

TEST_F(SpaceCheck, TheLargestItemCountsTwice) {
  // Half the free space: grows by F / 2, needs F with the largest again.
  {
    FileList list({{"half.bin", kb(free_ / 2)}});
    EXPECT_EQ(11, space_check());
  }
  {
    FileList list({{"less.bin", kb(free_ / 2 - unit_)}});
    EXPECT_EQ(0, space_check());
  }
  {
    // Two quarters: F / 2 of growth and F / 4 for the largest.
    FileList list({{"a.bin", kb(free_ / 4)}, {"b.bin", kb(free_ / 4)}});
    EXPECT_EQ(0, space_check());
  }
}

TEST_F(SpaceCheck, EveryItemTakesWholeClusters) {
  uint32_t clusters = free_ / unit_;
  // n one-byte files take n clusters, plus one more for the largest.
  std::vector<Item> fits, too_many;
  for (uint32_t i = 0; i + 2 < clusters; ++i) fits.push_back({"one.bin", 1});
  too_many = fits;
  too_many.push_back({"one.bin", 1});
  {
    FileList list(fits);
    EXPECT_EQ(0, space_check());
  }
  {
    FileList list(too_many);
    EXPECT_EQ(11, space_check());
  }
}

// A file that an item replaces stays as its backup until the installation
// ends (a link on this drive: no copy counts beside it): the item counts
// whole, as a new one does.
TEST_F(SpaceCheck, ReplacedFilesCountWhole) {
  file("have.bin", kb(2 * unit_));
  uint32_t half = free_ / 2 / unit_ * unit_;
  ASSERT_FALSE(backup_is_copy(root_.c_str()));
  {
    // Half and the largest half again: F.
    FileList list({{"have.bin", kb(half)}});
    EXPECT_EQ(11, space_check());
  }
  {
    FileList list({{"have.bin", kb(half - unit_)}});
    EXPECT_EQ(0, space_check());
  }
}

// An installation folder that is not there yet holds nothing: its items
// count whole without a look, as a file that is there elsewhere (a font)
// does after one.
TEST_F(SpaceCheck, ItemsOfAnInstallationFolderNotYetThereCountWhole) {
  file("have.ttf", kb(2 * unit_));
  uint32_t half = free_ / 2 / unit_ * unit_;
  lstrcpyA(InstallDir, (root_ + "gone\\").c_str());
  {
    // Half - 2 units for the font, twice, one cluster for the new file.
    FileList list({{"..\\have.ttf", kb(half - 2 * unit_), kKindFile, kFolderFonts}, {"new.bin", 1}});
    EXPECT_EQ(0, space_check());
  }
  {
    FileList list({{"new.bin", kb(half)}, {"b.bin", 1}});
    EXPECT_EQ(11, space_check());
  }
}

TEST_F(SpaceCheck, SourceFilesAndFoldersOnlyCountAsTheLargest) {
  Item in_source = {"src.bin", kb(free_ / 2), kKindInSource};
  Item folder = {"dir", kb(free_ / 2), kKindFolder};
  FileList list({in_source, folder});
  EXPECT_EQ(0, space_check());
}

TEST_F(SpaceCheck, AFontAlreadyPresentIsNotTheUninstallersToRemove) {
  file("old.ttf", 10);
  FileList list({{"old.ttf", 10, kKindRemovable, kFolderFonts}, {"new.ttf", 10, kKindRemovable, kFolderFonts}});
  EXPECT_EQ(0, space_check());
  EXPECT_EQ(kKindFile, list.kind(0));
  EXPECT_EQ(kKindRemovable, list.kind(1));
}

TEST_F(SpaceCheck, AReadOnlyFileIsNotedAndKeepsItsPermission) {
  std::string path = file("locked.txt", 10);
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  file("open.txt", 10);
  {
    FileList list({{"open.txt", 10}});
    EXPECT_EQ(0, space_check());
    EXPECT_FALSE(ReadOnlyFilesFound);
  }
  {
    FileList list({{"open.txt", 10}, {"locked.txt", 10}});
    EXPECT_EQ(0, space_check());
    EXPECT_TRUE(ReadOnlyFilesFound);
  }
  DWORD attributes = GetFileAttributesA(path.c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
}

TEST(SpaceCheckUnknownDrive, GoesOnWithoutComparing) {
  lstrcpyA(InstallDir, "Q:\\Nowhere\\");
  FileList list({{"huge.bin", 0xFFFF0000u}, {"more.bin", 0xFFFF0000u}});
  EXPECT_EQ(0, space_check());
  InstallDir[0] = '\0';
}

}  // namespace
