#include "install/product_entry.h"

#include <string.h>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/languages.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "install/journal.h"
#include "install/path_macros.h"
#include "install/scope.h"
#include "install/settings_lists.h"
#include "record/uninstall_data.h"
#include "record/uninstall_data_writer.h"

namespace {

// Every value of the entry: the name and the command, those every setup
// writes besides, then by kDetail... those the project may give.
const char* const kEntryValues[] = {"DisplayName",    "UninstallString", "QuietUninstallString", "InstallLocation",
                                    "EstimatedSize",  "DisplayVersion",  "Publisher",            "URLInfoAbout",
                                    "DisplayIcon"};
enum : int { kQuietValue = 2, kLocationValue, kSizeValue, kFirstDetailValue };

void set_text(HKEY key, const char* key_path, const char* name, const char* text) {
  if (!*text) {
    RegDeleteValueA(key, name);
    return;
  }
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
  log_registry_value(product_root(), key_path, name, text);
}

// Kilobytes of the files the setup type installs, rounded up once.
DWORD installed_kilobytes() {
  DWORD kilobytes = 0, rest = 0;
  const uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry)) {
    if (entry[kEntryKind] != kKindFile && entry[kEntryKind] != kKindRemovable) continue;
    uint32_t size = get_u32(entry + kEntrySize);
    kilobytes += size >> 10;
    rest += size & 1023;
  }
  return kilobytes + (rest + 1023) / 1024;
}

}  // namespace

bool note_entry_values(const char* key_path) {
  for (const char* name : kEntryValues)
    if (!note_registry_value(product_root(), key_path, name)) return false;
  return true;
}

void set_product_values(HKEY key, const char* key_path, const char* command) {
  char text[kPathSize + 16];
  copy_string(text, command, sizeof text);
  append_string(text, " /SILENT", sizeof text);
  set_text(key, key_path, kEntryValues[kQuietValue], text);
  // The folder as the user knows it, and the one #InstallDir# means here.
  strip_backslash(InstallDir);
  set_text(key, key_path, kEntryValues[kLocationValue], InstallDir);
  DWORD kilobytes = installed_kilobytes();
  RegSetValueExA(key, kEntryValues[kSizeValue], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kilobytes), sizeof kilobytes);
  format_decimal(text, sizeof text, kilobytes, 1);
  log_registry_value(product_root(), key_path, kEntryValues[kSizeValue], text);
  for (int i = kDetailVersion; i <= kDetailIcon; ++i) {
    const char* detail = product_detail(i);
    if (i == kDetailIcon) {
      expand_macros(text, detail, sizeof text);
      detail = text;
    }
    set_text(key, key_path, kEntryValues[kFirstDetailValue + i], detail);
  }
  add_backslash(InstallDir, kPathSize);
}

void write_uninstaller_texts(RecordFile* log) {
  // A setup of several languages hands on the uninstaller's texts in the
  // one it speaks, the project's among them.
  const uint8_t* texts = SetupTypeTable[CurrentSetupType].uninstaller_texts;
  if (texts && ChosenLanguage) {
    uint32_t header = open_block(log, kLanguageTextsId);
    write_counted_string(log, reinterpret_cast<const char*>(ChosenLanguage + kLanguageCode));
    for (int i = 0; i < kUninstallerAllTextCount; ++i) write_counted_string(log, list_text(texts, i));
    close_block(log, header, kLanguageTextsId, nullptr);
  }
  bool given = false;
  for (int i = 0; i < kUninstallerTextCount; ++i) given = given || *product_detail(kDetailUninstallerTexts + i);
  if (!given) return;
  uint32_t header = open_block(log, kUninstallerTextsId);
  for (int i = 0; i < kUninstallerTextCount; ++i) write_counted_string(log, product_detail(kDetailUninstallerTexts + i));
  close_block(log, header, kUninstallerTextsId, nullptr);
}
