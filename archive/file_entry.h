// FileEntry records of a FileList: one item of the installation each.
#pragma once
#include <cstdint>

enum : uint32_t {
  kEntryLength = 0,
  kEntryStatus = 4,
  kEntryIconIndex = 6,
  kEntryFolderCode = 8,
  kEntryFinishRole = 9,
  kEntryShared = 10,
  kEntryKind = 11,
  kEntryRegistration = 12,
  kEntryFlags = 14,
  kEntryChecksum = 16,
  kEntrySize = 20,
  kEntryDataPosition = 24,
  kEntryDataLength = 28,
  kEntryIndex = 32,
  kEntrySetupType = 36,
  kEntryFixedSize = 38,
  kEntryVersionSize = 20,
  kEntryTimesSize = 24,
  kEntryStringCount = 6,
};

// Item status, set in the entry while installing: 23 an existing file was
// replaced (or is the item's file already), 24 an existing file in use was
// kept in the item's place (Ignore), 25 newly created, 27 not placed. The
// uninstaller is told of 23 and 25 only: a kept file is not the setup's.
enum : uint16_t { kStatusReplaced = 23, kStatusKept = 24, kStatusCreated = 25, kStatusNotPlaced = 27 };

// FileEntry flags.
enum : uint8_t {
  kItemUninstaller = 0x01,
  kItemCompareVersion = 0x02,
  kItemCompareLanguage = 0x04,
  kItemHasTimes = 0x08,
  kItemPatch = 0x10,
  kItemFromSource = 0x20,
  kItemSolid = 0x40,  // its data is the next `size` bytes of its setup type's solid stream
};

// Item kinds, folder codes, finish roles and registrations.
enum : uint8_t { kKindFile = 0, kKindRemovable = 1, kKindInSource = 2, kKindFolder = 3 };
enum : uint8_t { kFolderInstallDir = 0, kFolderWindows = 1, kFolderShared = 2, kFolderFonts = 3 };
enum : uint8_t { kRoleNone = 0, kRoleDocument = 1, kRoleProgram = 2 };
enum : uint8_t { kRegisterNone = 0, kRegisterScreenSaver = 1, kRegisterLibrary = 2 };

// Offset of the six strings: behind the version block and the file times
// when the flags say they are there.
uint32_t entry_strings_offset(const uint8_t* entry);
// The creation, last-access and last-write FILETIMEs of an entry whose
// flags have kItemHasTimes: right before the strings.
const uint8_t* entry_file_times(const uint8_t* entry);
// String n (0 name, 1 menu locations, 2 menu name, 3 menu arguments,
// 4 desktop name, 5 desktop arguments).
const char* entry_string(const uint8_t* entry, int n);
uint8_t* next_entry(uint8_t* entry);
const uint8_t* next_entry(const uint8_t* entry);

// True when `count` entries lie inside `length` bytes, each at least its
// fixed part long and holding its six terminated strings.
bool check_file_entries(const uint8_t* entries, uint32_t length, uint32_t count);
