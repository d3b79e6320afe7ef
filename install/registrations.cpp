#include "install/registrations.h"

#include <string.h>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "base/fonts_key.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "base/system_libraries.h"
#include "install/destination.h"
#include "install/engine.h"
#include "install/journal.h"

namespace {

const char kTrueTypeSuffix[] = " (TrueType)";
// Font files with more tables than this are not searched for their name.
enum : uint16_t { kMaxFontTables = 40 };
enum : uint16_t { kMacintoshPlatform = 1, kFullFontName = 4 };
enum : size_t { kFontNameSize = 256 };

uint16_t get_be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t get_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// Offset of the TrueType "name" table, or false when the first 40 table
// records do not hold it.
bool find_name_table(FileHandle font, uint32_t* offset) {
  uint8_t header[12];
  if (read_exact(font, header, sizeof header) != 0) return false;
  uint16_t tables = get_be16(header + 4);
  for (uint16_t i = 0; i < tables && i < kMaxFontTables; ++i) {
    uint8_t record[16];
    if (read_exact(font, record, sizeof record) != 0) return false;
    if (memcmp(record, "name", 4) == 0) {
      *offset = get_be32(record + 8);
      return true;
    }
  }
  return false;
}

// The last Macintosh-platform full font name of the file into `name`
// (kFontNameSize bytes, cut to fit); empty when there is none.
void read_full_font_name(const char* path, char* name) {
  name[0] = '\0';
  FileHandle font = open_file(path, 0);
  if (font == INVALID_FILE_HANDLE) return;
  uint32_t table = 0;
  uint8_t head[6];
  if (find_name_table(font, &table) && seek_to(font, table) == table && read_exact(font, head, sizeof head) == 0) {
    uint16_t records = get_be16(head + 2);
    uint32_t strings = table + get_be16(head + 4);
    for (uint16_t i = 0; i < records; ++i) {
      uint32_t at = table + 6 + 12u * i;
      uint8_t record[12];
      if (seek_to(font, at) != at || read_exact(font, record, sizeof record) != 0) break;
      if (get_be16(record) != kMacintoshPlatform || get_be16(record + 6) != kFullFontName) continue;
      uint32_t length = get_be16(record + 8);
      if (length > kFontNameSize - 1) length = kFontNameSize - 1;
      uint32_t from = strings + get_be16(record + 10);
      if (seek_to(font, from) != from) break;
      uint32_t got = read_some(font, name, length);
      name[got] = '\0';
    }
  }
  close_file(font);
}

}  // namespace

void register_font(const char* path) {
  char name[kFontNameSize + sizeof kTrueTypeSuffix];
  read_full_font_name(path, name);
  // A font that a rollback could not take out again is not added.
  if (!note_added_font(path)) return;
  if (AddFontResourceA(path)) SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
  log_event("registered", path, "font");
  if (!name[0]) return;
  append_string(name, kTrueTypeSuffix, sizeof name);  // sized to take it
  const char* slash = strrchr(path, '\\');
  const char* file = slash ? slash + 1 : path;
  HKEY key;
  if (!note_registry_value(HKEY_LOCAL_MACHINE, fonts_key(), name)) return;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, fonts_key(), &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(file), static_cast<DWORD>(strlen(file)));
  RegCloseKey(key);
}

void self_register_libraries() {
  typedef HRESULT(WINAPI * RegisterServer)();
  const uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry)) {
    if (entry[kEntryRegistration] != kRegisterLibrary) continue;
    item_destination(entry);
    HMODULE library = load_installed_library(DestPath);
    if (reinterpret_cast<uintptr_t>(library) < 32) continue;
    // Through void (*)(): the export's own type is not FARPROC's.
    RegisterServer do_register =
        reinterpret_cast<RegisterServer>(reinterpret_cast<void (*)()>(GetProcAddress(library, "DllRegisterServer")));
    // Noted first: a rollback asks the library to unregister.
    if (do_register && note_registered_library(DestPath)) {
      do_register();
      log_event("registered", DestPath, "library");
    }
    FreeLibrary(library);
  }
}
