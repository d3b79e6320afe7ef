#include "install/shortcuts.h"

#include <shlobj.h>
#include <string.h>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "install/destination.h"
#include "install/folders.h"
#include "install/journal.h"
#include "install/macro_tokens.h"
#include "record/uninstall_data.h"
#include "record/uninstall_data_writer.h"

HRESULT create_shortcut(const char* target_path, const char* link_path, const char* arguments, int icon_index) {
  IShellLinkA* link = nullptr;
  HRESULT result =
      CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(&link));
  if (FAILED(result)) return result;
  link->SetPath(target_path);
  char folder[2 * kPathSize];
  copy_string(folder, target_path, sizeof folder);
  if (char* slash = strrchr(folder, '\\')) {
    *slash = '\0';
    link->SetWorkingDirectory(folder);
  }
  if (arguments && arguments[0] != '\0') link->SetArguments(arguments);
  if (icon_index != 0) link->SetIconLocation(target_path, icon_index);
  IPersistFile* file = nullptr;
  result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(result)) {
    WCHAR wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide, MAX_PATH) == 0)
      result = E_INVALIDARG;  // a link path that does not fit is not saved under a cut name
    else
      result = file->Save(wide, TRUE);
    file->Release();
  }
  link->Release();
  if (SUCCEEDED(result)) log_event("shortcut", link_path, target_path);
  return result;
}

bool make_menu_shortcut(const char* target_path, const char* location, const char* name, const char* arguments,
                        int icon_index, RecordFile* log) {
  int folder_id = CSIDL_PROGRAMS;
  const char* subfolder = location;
  if (_stricmp(location, kLocationWords[kLocationStartMenu]) == 0) {
    folder_id = CSIDL_STARTMENU;
    subfolder = "";
  } else if (_stricmp(location, kLocationWords[kLocationStartup]) == 0) {
    folder_id = CSIDL_STARTUP;
    subfolder = "";
  }
  char path[kPathSize];
  // Without its shell folder the location is skipped.
  if (!shortcut_folder_path(folder_id, path)) return false;
  if (subfolder[0] != '\0' && (!add_backslash(path, sizeof path) || !append_string(path, subfolder, sizeof path)))
    return false;
  strip_backslash(path);
  if (!SetCurrentDirectoryA(path)) {
    if (!add_backslash(path, sizeof path)) return false;
    create_folder_chain(path);
    if (!SetCurrentDirectoryA(path)) return false;
  }
  if (!add_backslash(path, sizeof path)) return false;
  size_t folder_length = strlen(path);
  if (!append_string(path, name, sizeof path) || !append_string(path, ".lnk", sizeof path)) return false;
  // A shortcut of the same name that was there is kept to be put back.
  if (!note_file_change(path)) return false;
  if (!log) {
    create_shortcut(target_path, path, arguments, icon_index);
    return false;
  }
  // The record first: a shortcut the uninstaller would not know of is not made.
  char folder[kPathSize];
  copy_string(folder, path, folder_length);
  write_counted_string(log, folder);
  write_counted_string(log, path + folder_length);
  if (!finish_record(log)) return false;
  create_shortcut(target_path, path, arguments, icon_index);
  return true;
}

void make_menu_shortcuts(RecordFile* log) {
  bool started = false;
  uint32_t block_start = 0;
  uint32_t count = 0;
  const uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry)) {
    const char* name = entry_string(entry, 2);
    if (name[0] == '\0') continue;
    if (log && log->result != 0) return;
    item_destination(entry);
    if (log && !started) {
      block_start = open_block(log, kShortcutListId);
      write_record_u32(log, 0);
      started = true;
    }
    const char* locations = entry_string(entry, 1);
    const char* arguments = entry_string(entry, 3);
    int icon_index = get_u16(entry + kEntryIconIndex);
    // Every part between ";" is a location, an empty one too, except an
    // empty part after a final ";".
    for (const char* part = locations;;) {
      const char* end = strchr(part, ';');
      size_t length = end ? static_cast<size_t>(end - part) : strlen(part);
      if (!end && length == 0 && part != locations) break;
      char location[kPathSize];
      if (length < sizeof location) {
        memcpy(location, part, length);
        location[length] = '\0';
        if (make_menu_shortcut(DestPath, location, name, arguments, icon_index, log)) ++count;
      }
      if (!end) break;
      part = end + 1;
    }
  }
  if (started) close_block(log, block_start, kShortcutListId, &count);
}
