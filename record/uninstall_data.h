// Reading the record of an installation that the setup appended to the
// uninstaller: a chain of blocks from the uninstaller's stamped length.
// The record is read in place: its texts point into the caller's bytes,
// which must outlive every use. Portable (no windows.h), so it is checked
// on the host as well.
//
// The chain opens with the RemoveList and ends with the end block. Between
// them stand the ShortcutList and the UninstallKeyBlock, and then the
// extension blocks, which a setup writes only when it needs them, so that
// a record without them is exactly what earlier setups wrote:
//   0x1250 InstallFolder: the folder that "." means, when the uninstaller
//          does not lie directly in it.
//   0x1251 SettingsList: registry values and INI entries to delete.
//   0x1252 EarlierInstallation: a whole record (RemoveList to end block)
//          of an installation that an uninstaller at the same path served
//          before this one was written over it; one block per installation,
//          those that keep the same blocks once.
//   0x1255 EarlierRemovals: the RemoveLists of the earlier installations
//          merged, one record per path and flags, "." this record's own
//          folder; a shared file's record adds a u32 count of the
//          installations that raised its shared count. The setup then
//          keeps each earlier installation with an empty RemoveList.
//   0x1253 PathEntries: u32 count, then per entry u8 scope (kPathScope...,
//          base/path_list.h) and the counted entry that the setup added to
//          that search path, which was not there before; the uninstaller
//          takes out that entry alone.
//          before this one was written over it; one block per installation.
//   0x1254 NativeMode: u32 architecture (kArchitectureX64, _Arm64 or
//          _X64Compatible): the installation went into the native folders
//          and the 64-bit registry view, where its removal must look.
//   0x1280 UninstallerTexts: the project's texts for the uninstaller's
//          boxes, as counted texts (empty: the uninstaller's own).
//   0x1282 LanguageTexts: the language the product was installed in: its
//          counted code and its kUninstallerAllTextCount counted texts for
//          the uninstaller, the project's among them; in place of 0x1280.
//   0x1281 MadeFolders: u32 count, then counted whole paths (no trailing
//          backslash) of the folders above the installation folder that
//          the setup made; they go when the removal leaves them empty.
// Ids 0x1250 to 0x127F change what is removed: a reader that meets one it
// does not know must remove nothing. Ids 0x1280 to 0x12FF carry what a
// reader may pass over (texts, ways of asking). Any other id is damage.
// Once carried out, the record's first id becomes 0x9235: every reader
// then finds no RemoveList, and nothing is removed twice.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "archive/format.h"

enum : uint16_t {
  kRemoveListId = 0x1235,
  kShortcutListId = 0x1236,
  kUninstallKeyBlockId = 0x1238,
  kInstallFolderId = 0x1250,
  kSettingsListId = 0x1251,
  kEarlierInstallationId = 0x1252,
  kPathEntriesId = 0x1253,
  kNativeModeId = 0x1254,
  kEarlierRemovalsId = 0x1255,
  kLastRequiredExtensionId = 0x127F,
  kUninstallerTextsId = 0x1280,
  kMadeFoldersId = 0x1281,
  kLanguageTextsId = 0x1282,
  kLastExtensionId = 0x12FF,
  kUsedRemoveListId = 0x9235,
  kUninstallEndId = 0x7F7F,
};

// The longest record the uninstaller reads, and so the longest the setup
// writes: a longer tail behind its image is not taken for a record.
enum : uint32_t { kMaxRecordLength = 4u << 20 };
// An installed uninstaller is its image, far smaller, and its record.
enum : uint32_t { kMaxUninstallerLength = 2 * kMaxRecordLength };

// A signed uninstaller keeps its record beside it, in a file of its own
// name with this extension ("Uninstall.exe": "Uninstall.dat"): appended,
// the record would break the signature, which covers every byte but the
// certificate table. The side file holds the record alone, from its first
// byte.
constexpr char kSideRecordExtension[] = ".dat";
// The side file of the uninstaller at that path, into `out` of `capacity`
// bytes; false when it does not fit, or would be the uninstaller itself.
bool side_record_path(const char* uninstaller, char* out, size_t capacity);

// The UninstallKeyBlock names a key below this one of HKEY_LOCAL_MACHINE.
// Inline: one copy in a program, not one per file that uses it.
inline constexpr char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// RemoveList record flags.
enum : uint8_t { kRemoveShared = 0x01, kRemoveFont = 0x02, kRemoveSelfRegistering = 0x04 };

// SettingsList record kinds and their flags.
enum : uint8_t { kSettingRegistryValue = 1, kSettingIniEntry = 2 };
enum : uint8_t {
  kSettingDeleteKeyIfEmpty = 0x01,  // registry: the key goes too when nothing is left in it
  kSettingFileCreated = 0x01,       // INI: the setup made the file; it goes when left empty
};

// A path entry is a folder: below the length of a path, with no ';'.
enum : uint16_t { kPathEntryCapacity = 260 };

// A counted text of the record; not terminated.
struct RecordText {
  const char* text;
  uint16_t length;
};

struct RemoveRecord {
  RecordText folder;  // ".", ".\sub" or an absolute folder
  RecordText name;
  uint8_t flags;
};

// A record of the EarlierRemovals: uses is how many earlier installations
// listed it; a shared file's count is lowered that many times.
struct EarlierRemoval {
  RemoveRecord record;
  uint32_t uses;
};

// A start-menu shortcut: the folder that holds it (no trailing backslash)
// and its file name, "name.lnk".
struct ShortcutRecord {
  RecordText folder;
  RecordText file;
};

// A setting to delete. Registry: u32 root (an HKEY value such as
// 0x80000001), key, value name (empty: the default value), u8 flags, u8
// created_keys. INI: file, section, key, u8 flags.
struct SettingRecord {
  uint8_t kind;
  uint32_t root;
  RecordText path;     // registry key below the root, or the INI file
  RecordText section;  // INI only
  RecordText name;     // registry value name, or INI key
  uint8_t flags;
  // Registry: how many keys at the end of path the setup created; when the
  // key goes, those above it go too while they are left empty.
  uint8_t created_keys;
};

// An entry that the setup added to a search path.
struct PathEntryRecord {
  uint8_t scope;
  RecordText entry;
};

struct UninstallData {
  const uint8_t* remove_list;  // the first RemoveRecord
  uint32_t remove_count;
  const uint8_t* shortcut_list;  // the first ShortcutRecord
  uint32_t shortcut_count;
  bool has_uninstall_key;
  uint32_t uninstall_root;
  RecordText uninstall_key;
  bool has_install_folder;
  RecordText install_folder;
  const uint8_t* setting_list;  // the first SettingRecord
  uint32_t setting_count;
  const uint8_t* earlier;  // the first block that may be an EarlierInstallation
  uint32_t earlier_count;
  // The earlier installations' files, merged (EarlierRemoval records);
  // "." means this installation's folder.
  const uint8_t* earlier_removals;
  uint32_t earlier_removal_count;
  // The uninstaller's texts the project gave, by kUninstallerText...
  // (length 0: its own). Texts that do not read whole are passed over.
  RecordText texts[kUninstallerTextCount];
  // The installed language's texts (LanguageTexts), when the record has
  // them whole: the uninstaller then speaks that language.
  bool has_language;
  RecordText language_texts[kUninstallerAllTextCount];
  // The folders above the installation folder that the setup made (the
  // first counted path; none when the block does not read whole).
  const uint8_t* made_folders;
  uint32_t made_folder_count;
  const uint8_t* path_list;  // the first PathEntryRecord
  uint32_t path_count;
  // The 64-bit mode's architecture, kArchitectureX86 for a record without it.
  uint32_t architecture;
};

// kUsed: the record was carried out already.
enum class UninstallDataStatus { kOk, kMissing, kDamaged, kUsed };

// Parses [data, data + length). Anything that does not fit its block, an
// unknown or compressed block, or a chain without its end block is damage:
// the uninstaller then removes nothing, and out is left empty. Earlier
// installations are checked whole as well.
UninstallDataStatus parse_uninstall_data(const uint8_t* data, size_t length, UninstallData* out);

// Read the record at *cursor and move the cursor to the next one. Only for
// lists of a record that parse_uninstall_data accepted, which has checked
// every length; start at remove_list, shortcut_list or setting_list.
RemoveRecord next_remove_record(const uint8_t** cursor);
EarlierRemoval next_earlier_removal(const uint8_t** cursor);  // from earlier_removals
ShortcutRecord next_shortcut_record(const uint8_t** cursor);
SettingRecord next_setting_record(const uint8_t** cursor);
PathEntryRecord next_path_record(const uint8_t** cursor);
// A counted path of made_folders; only made_folder_count times.
RecordText next_made_folder(const uint8_t** cursor);
// The next earlier installation, from a cursor that starts at earlier;
// only earlier_count times.
UninstallData next_earlier_installation(const uint8_t** cursor);
