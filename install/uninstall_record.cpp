#include "install/uninstall_record.h"

#include <shlobj.h>
#include <string.h>
#include <windows.h>

#include "app/globals.h"
#include "app/path_strings.h"
#include "app/sequencer.h"
#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "install/destination.h"
#include "install/engine_state.h"
#include "install/registrations.h"
#include "install/settings_lists.h"
#include "install/shortcuts.h"
#include "uninstall/uninstall_data.h"

namespace {

const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const uint32_t kUninstallRootKey = 0x80000002;  // HKEY_LOCAL_MACHINE as the uninstaller reads it
enum : int { kFinishPage = 6 };

void write_u32(FileHandle log, uint32_t value) {
  uint8_t bytes[4];
  put_u32(bytes, value);
  write_all(log, bytes, sizeof bytes);
}

void write_header(FileHandle log, uint16_t id, uint32_t size) {
  uint8_t header[kBlockHeaderSize];
  put_u16(header, id);
  put_u16(header + 2, 0);
  put_u32(header + 4, size);
  write_all(log, header, sizeof header);
}

void write_counted(FileHandle log, const char* text, size_t n) {
  uint8_t length[2];
  put_u16(length, static_cast<uint16_t>(n));
  write_all(log, length, sizeof length);
  if (static_cast<uint16_t>(n)) write_all(log, text, static_cast<uint16_t>(n));
}

// The RemoveList flags of an installed file.
uint8_t remove_flags(const uint8_t* entry) {
  uint8_t flags = 0;
  if (entry[kEntryFolderCode] != kFolderInstallDir && entry[kEntryShared] == 1) flags |= kRemoveShared;
  if (entry[kEntryFolderCode] == kFolderFonts) flags |= kRemoveFont;
  if (entry[kEntryRegistration] == kRegisterLibrary) flags |= kRemoveSelfRegistering;
  return flags;
}

// DestPath = the desktop folder's shortcut of that name; false when the
// desktop cannot be found or the path does not fit.
bool desktop_shortcut_path(const char* name) {
  LPITEMIDLIST folder = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &folder))) return false;
  BOOL found = SHGetPathFromIDListA(folder, DestPath);
  CoTaskMemFree(folder);
  if (!found) return false;
  add_backslash(DestPath, sizeof DestPath);
  size_t n = strlen(DestPath);
  if (n + strlen(name) + 4 >= sizeof DestPath) return false;
  strcpy(DestPath + n, name);
  strcat(DestPath, ".lnk");
  return true;
}

// The RemoveList of the current FileList at the log's end, written over the
// 8 bytes that the installed uninstaller keeps for its header.
void write_remove_list(FileHandle log, uint32_t start) {
  write_u32(log, 0);
  uint32_t count = 0;
  const uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry)) {
    item_destination(entry);
    uint8_t kind = entry[kEntryKind];
    uint16_t status = get_u16(entry + kEntryStatus);
    if (kind == kKindFolder) {
      write_log_record(log, 0);
      ++count;
    } else if (kind == kKindRemovable && (status == kStatusReplaced || status == kStatusCreated)) {
      write_log_record(log, remove_flags(entry));
      ++count;
    }
    const char* desktop_name = entry_string(entry, 4);
    if (*desktop_name && desktop_shortcut_path(desktop_name)) {
      write_log_record(log, 0);
      ++count;
    }
  }
  uint32_t size = tell_file(log) - start;
  seek_to(log, start - kBlockHeaderSize);
  write_header(log, kRemoveListId, size);
  write_u32(log, count);
  seek_to(log, start + size);
}

void register_uninstaller(FileHandle log, const char* name) {
  char key_path[kUninstallKeySize];
  uninstall_key_path(key_path, name);
  HKEY key;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key) == ERROR_SUCCESS) {
    RegSetValueExA(key, "DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                   static_cast<DWORD>(strlen(name)));
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(UninstallerPath),
                   static_cast<DWORD>(strlen(UninstallerPath)));
    RegCloseKey(key);
  }
  write_header(log, kUninstallKeyBlockId, static_cast<uint32_t>(strlen(key_path) + 6));
  write_u32(log, kUninstallRootKey);
  write_counted_string(log, key_path);
}

// Appends the UninstallData to the installed uninstaller and registers it.
// An uninstaller that cannot be opened, or is too short to hold the header
// that its last 8 bytes make room for, gets no record and no Uninstall key:
// the start-menu shortcuts are then made without one.
void write_uninstall_data() {
  FileHandle log = open_file(UninstallerPath, 2);
  uint32_t start = log == INVALID_FILE_HANDLE ? 0 : seek_from_end(log, 0);
  if (log == INVALID_FILE_HANDLE || start < kBlockHeaderSize || start == INVALID_SET_FILE_POINTER) {
    if (log != INVALID_FILE_HANDLE) close_file(log);
    make_menu_shortcuts(INVALID_HANDLE_VALUE);
    return;
  }
  add_backslash(InstallDir, kPathSize);
  write_remove_list(log, start);
  make_menu_shortcuts(log);
  const char* name = CurrentRecord ? CurrentRecord->uninstall_name : nullptr;
  if (name && *name) register_uninstaller(log, name);
  write_header(log, kUninstallEndId, 0);
  close_file(log);
}

}  // namespace

void uninstall_key_path(char* out, const char* uninstall_name) {
  copy_string(out, kUninstallRoot, kUninstallKeySize);
  size_t n = strlen(out);
  copy_string(out + n, uninstall_name, kUninstallKeySize - n);
}

void write_counted_string(FileHandle log, const char* text) { write_counted(log, text, strlen(text)); }

void write_log_record(FileHandle log, uint8_t flags) {
  char folder[sizeof DestPath + 2];
  const char* name;
  size_t n = strlen(InstallDir);
  // An empty InstallDir would make every path look relative to it.
  if (n > 0 && _strnicmp(DestPath, InstallDir, n) == 0) {
    const char* rest = DestPath + n;
    const char* slash = strrchr(rest, '\\');
    if (slash) {
      strcpy(folder, ".\\");
      memcpy(folder + 2, rest, slash - rest);
      folder[2 + (slash - rest)] = '\0';
      name = slash + 1;
    } else {
      strcpy(folder, ".");
      name = rest;
    }
  } else {
    const char* slash = strrchr(DestPath, '\\');
    size_t length = slash ? slash - DestPath : 0;
    memcpy(folder, DestPath, length);
    folder[length] = '\0';
    name = slash ? slash + 1 : DestPath;
  }
  write_counted_string(log, folder);
  write_counted_string(log, name);
  write_all(log, &flags, 1);
}

void finish_install() {
  if (data_file != INVALID_FILE_HANDLE) {
    close_file(data_file);
    data_file = INVALID_FILE_HANDLE;
  }
  if (ErrorState == 0) {
    if (UninstallerPath[0])
      write_uninstall_data();
    else
      make_menu_shortcuts(INVALID_HANDLE_VALUE);
    strip_backslash(InstallDir);
    remember_install_dir();
    write_ini_entries();
    write_registry_entries();
    apply_string_patches();
    add_backslash(InstallDir, kPathSize);
    self_register_libraries();
  }
  if (StartPageNumber == 0xFFFF) continue_at(kFinishPage);
  InstallRunning = false;
}
