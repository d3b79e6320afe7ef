// The configuration records of an archive, from plain descriptions to the
// bytes the loader reads. Texts go in as they stand (ANSI, in the code page
// of the archive); each is written NUL-terminated, so none may hold a NUL.
// Every encoder appends to *out and answers false, with *error saying why,
// when its input cannot be written.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/path_list.h"

// One setup type's record (block 0x123e). Absent texts and lists are written
// as offset 0; an empty text or list is still written and differs from an
// absent one (an absent uninstall name registers nothing, for instance).
struct SetupTypeRecordFields {
  uint16_t flags = 0;  // kTypeFolderEditable, kTypeRememberInRegistry, kTypeRememberInIni
  std::optional<std::string> uninstall_name;
  std::optional<std::string> caption;
  std::optional<std::string> default_folder;
  uint32_t root_key = 0;  // 0 classes root, 1 current user, 2 local machine, 3 users
  std::optional<std::string> registry_key;
  std::optional<std::string> registry_value;
  std::optional<std::string> ini_file;
  std::optional<std::string> ini_section;
  std::optional<std::string> ini_key;
  std::array<std::optional<std::vector<std::string>>, kTextListCount> text_lists;
};

bool encode_setup_type_record(const SetupTypeRecordFields& values, std::vector<uint8_t>* out, std::string* error);

// A text list as the setup type record holds one: a u16 count and the
// texts; `what` names it in messages. Used whole by the product details
// (block 0x1243).
bool encode_text_list(const std::vector<std::string>& texts, const std::string& what, std::vector<uint8_t>* out,
                      std::string* error);

// Compared with the installed file's version resource.
struct FileVersionFields {
  uint32_t version_ms = 0;  // dwFileVersionMS
  uint32_t version_ls = 0;  // dwFileVersionLS
  uint32_t language = 0;    // first language of \VarFileInfo\Translation
};

// FILETIMEs: 100 ns units since 1601.
struct FileTimesFields {
  uint64_t creation = 0;
  uint64_t last_access = 0;
  uint64_t last_write = 0;
};

// One item of a FileList. The version block is written when the flags ask
// for a version or language comparison, the times when kItemHasTimes is
// set; the flags decide, the fields alone do not.
struct FileEntryFields {
  uint16_t status = 0;  // set by the installer while it runs
  uint16_t icon_index = 0;
  uint8_t folder_code = kFolderInstallDir;
  uint8_t finish_role = kRoleNone;
  uint8_t shared = 0;
  uint8_t kind = kKindFile;
  uint8_t registration = kRegisterNone;
  uint8_t flags = 0;
  uint32_t checksum = 0;
  uint32_t size = 0;
  uint32_t data_position = 0;
  uint32_t data_length = 0;
  int32_t entry_index = 0;  // entry whose data is used; an ordinary entry names itself
  uint16_t setup_type = 0;  // setup type whose FileList holds that entry
  FileVersionFields version;
  FileTimesFields times;
  std::string name;  // relative to the destination folder
  std::string menu_locations;  // separated by ";"
  std::string menu_name;
  std::string menu_arguments;
  std::string desktop_name;
  std::string desktop_arguments;
};

bool encode_file_entry(const FileEntryFields& values, std::vector<uint8_t>* out, std::string* error);
// Block 0x123a: u32 count, then the entries.
bool encode_file_list(const std::vector<FileEntryFields>& entries, std::vector<uint8_t>* out, std::string* error);

struct IniEntryFields {
  uint8_t flags = 0;  // kEntryKeepExisting
  std::string file;
  std::string section;
  std::string key;
  std::string value;
};

struct RegistryEntryFields {
  uint32_t root_key = 0;
  uint8_t flags = 0;  // kEntryKeepExisting
  std::string key;
  std::string value_name;  // empty: the key's default value
  std::string value;
};

// A folder the setup adds to a search path: scope kPathScopeUser or
// kPathScopeMachine (base/path_list.h).
struct PathEntryFields {
  uint8_t scope = 0;
  std::string folder;
};

struct StringPatchFields {
  int32_t offset = -1;  // -1: write right after the first occurrence of the pattern
  std::string file;
  std::string text;
  std::vector<uint8_t> pattern;
};

// Blocks 0x1240, 0x1241, 0x1242: u16 count, then the records.
bool encode_ini_list(const std::vector<IniEntryFields>& entries, std::vector<uint8_t>* out, std::string* error);
bool encode_registry_list(const std::vector<RegistryEntryFields>& entries, std::vector<uint8_t>* out,
                          std::string* error);
bool encode_string_patch_list(const std::vector<StringPatchFields>& entries, std::vector<uint8_t>* out,
                              std::string* error);
// Block 0x1246: u16 count, then per entry u8 scope and the folder.
bool encode_path_list(const std::vector<PathEntryFields>& entries, std::vector<uint8_t>* out, std::string* error);

// Block 0x1239: a u32 offset per template number, then the templates (the
// in-memory dialog template format) back to back. Template 0 must be given,
// since its offset tells the number of entries; an empty template marks an
// unused number and gets offset 0, which no template can have.
bool encode_template_store(const std::vector<std::vector<uint8_t>>& templates, std::vector<uint8_t>* out,
                           std::string* error);

// Block 0x123b.
struct StartPageFields {
  uint16_t start_page = 0xFFFF;  // 0xFFFF: the whole wizard; otherwise that one page
  uint16_t setup_type = 0;       // made current at the end of loading
};

void encode_start_page(const StartPageFields& values, std::vector<uint8_t>* out);

// LOGFONTA, 60 bytes.
struct LogFontFields {
  int32_t height = 0;
  int32_t width = 0;
  int32_t escapement = 0;
  int32_t orientation = 0;
  int32_t weight = 0;
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strike_out = 0;
  uint8_t char_set = 0;
  uint8_t out_precision = 0;
  uint8_t clip_precision = 0;
  uint8_t quality = 0;
  uint8_t pitch_and_family = 0;
  std::string face_name;  // at most 31 bytes
};

// Block 0x123d: shadow COLORREF, text COLORREF (0x00BBGGRR), the font.
struct BackgroundStyleFields {
  uint32_t shadow_color = 0;
  uint32_t text_color = 0;
  LogFontFields font;
};

enum : uint32_t { kLogFontSize = 60, kBackgroundStyleSize = 68, kBitmapHeadersSize = 54 };

bool encode_background_style(const BackgroundStyleFields& values, std::vector<uint8_t>* out, std::string* error);
// Block 0x1237: the title with its terminator.
bool encode_background_title(const std::string& title, std::vector<uint8_t>* out, std::string* error);
// Blocks 0x1235 and 0x1236 hold a bitmap file as it stands; this only
// checks that it is one the painter can show in place: signature "BM", a
// 14-byte file header and a 40-byte BITMAPINFOHEADER.
bool check_bitmap_file(const std::vector<uint8_t>& bitmap, std::string* error);
