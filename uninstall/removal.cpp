#include "uninstall/removal.h"

#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "base/library_registration.h"
#include "base/native_mode.h"
#include "base/replace.h"
#include "base/search_path.h"
#include "base/setup_log.h"
#include "base/shared_count.h"
#include "uninstall/removal_progress.h"
#include "uninstall/font_removal.h"
#include "uninstall/settings_removal.h"

namespace {

// A file already gone counts as deleted.
bool delete_now(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  // The setup keeps installed read-only files read-only.
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
  return DeleteFileA(path) != 0;
}

// A shared file's count is lowered once for each installation that raised
// it (uses).
void remove_file(const char* path, uint8_t flags, uint32_t uses, RemovalOutcome* outcome) {
  // Another installation's count keeps a shared file; so does a count we
  // cannot read, since deleting a library in use elsewhere breaks that user.
  if (flags & kRemoveShared) {
    SharedRelease release = SharedRelease::kStillUsed;
    while (uses-- > 0 && release == SharedRelease::kStillUsed) release = release_shared_count_once(path);
    if (release != SharedRelease::kLastUser) {
      log_event("kept", path, "shared");
      return;
    }
  }
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
  if (flags & kRemoveSelfRegistering) {
    // The library loads, with what it needs, from this program's own kind
    // of System folder.
    bool native = native_files(false);
    unregister_library(path);
    native_files(native);
  }
  if (flags & kRemoveFont) remove_font(path);
  delete_or_schedule(path, outcome);
}

// Adds the shell folder csidl to folders, without a trailing backslash.
void add_special_folder(int csidl, char (*folders)[kPathSize], unsigned* count) {
  LPITEMIDLIST list = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, csidl, &list) != S_OK || !list) return;
  char* path = folders[*count];
  path[0] = '\0';
  bool found = SHGetPathFromIDListA(list, path) && path[0] != '\0';
  IMalloc* shell_malloc = nullptr;
  if (SUCCEEDED(SHGetMalloc(&shell_malloc))) {
    shell_malloc->Free(list);
    shell_malloc->Release();
  }
  if (!found) return;
  size_t n = strlen(path);
  if (n > 3 && path[n - 1] == '\\') path[n - 1] = '\0';
  ++*count;
}

// A registry value by its key with the root, as the setup logs it; an
// INI entry by its file.
void log_setting(const char* event, const PlannedSetting& setting) {
  if (setting.kind != kSettingRegistryValue) {
    log_event(event, setting.path, setting.name);
    return;
  }
  char key[kSettingTextCapacity + 8];
  registry_log_path(key, sizeof key, setting.root, setting.path);
  log_event(event, key, setting.name);
}

// Values and entries first, then what they leave empty: a key or section
// that two settings share is empty only after both.
void remove_settings(const RemovalPlan& plan, RemovalOutcome* outcome) {
  PlannedSetting setting;
  for (int pass = 0; pass < 2; ++pass) {
    for (uint32_t i = 0; i < plan.installation_count; ++i) {
      const UninstallData& data = plan.installations[i].data;
      const uint8_t* cursor = data.setting_list;
      for (uint32_t n = 0; n < data.setting_count; ++n) {
        planned_setting(next_setting_record(&cursor), &setting);
        if (pass == 0) {
          bool deleted = delete_setting(setting);
          log_setting(deleted ? "removed" : "left", setting);
          outcome->left += !deleted;
        } else {
          remove_emptied_places(setting);
        }
      }
    }
  }
  bool environment_changed = false;
  for (uint32_t i = 0; i < plan.installation_count; ++i) {
    const UninstallData& data = plan.installations[i].data;
    const uint8_t* cursor = data.path_list;
    for (uint32_t n = 0; n < data.path_count; ++n)
      outcome->left += !remove_path_entry(next_path_record(&cursor), &environment_changed);
  }
  if (environment_changed) announce_environment_change();
}

}  // namespace

void delete_or_schedule(const char* path, RemovalOutcome* outcome) {
  const char* event = "removed";
  if (!delete_now(path)) {
    bool scheduled = replace_at_restart(nullptr, path);
    ++(scheduled ? outcome->at_restart : outcome->left);
    event = scheduled ? "scheduled" : "left";
  }
  log_event(event, path);
}

void schedule_folder_removal(const char* path) {
  if (IsNtFamily && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) replace_at_restart(nullptr, path);
}

void find_menu_folders(MenuFolders* menu) {
  *menu = MenuFolders();
  const int programs[] = {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS};
  const int kept[] = {CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU};
  for (int csidl : programs) add_special_folder(csidl, menu->programs, &menu->program_count);
  for (int csidl : kept) add_special_folder(csidl, menu->keep, &menu->keep_count);
}

RemovalOutcome carry_out_removal(const RemovalPlan& plan) {
  RemovalOutcome outcome = RemovalOutcome();
  // Settings before files: an INI file that the RemoveList deletes must not
  // be made again by the removal of its entries.
  remove_settings(plan, &outcome);
  // The files in the native folders, in the 64-bit mode.
  native_files(true);
  char path[kPathSize];
  for (uint32_t i = 0; i < plan.installation_count; ++i) {
    const PlannedInstallation& installation = plan.installations[i];
    const uint8_t* cursor = installation.data.remove_list;
    for (uint32_t n = 0; n < installation.data.remove_count; ++n) {
      RemoveRecord record = next_remove_record(&cursor);
      if (planned_file_path(installation, record, path)) remove_file(path, record.flags, 1, &outcome);
    }
    cursor = installation.data.earlier_removals;
    for (uint32_t n = 0; n < installation.data.earlier_removal_count; ++n) {
      EarlierRemoval removal = next_earlier_removal(&cursor);
      if (planned_file_path(installation, removal.record, path))
        remove_file(path, removal.record.flags, removal.uses, &outcome);
    }
    cursor = installation.data.shortcut_list;
    for (uint32_t n = 0; n < installation.data.shortcut_count; ++n) {
      planned_shortcut_path(next_shortcut_record(&cursor), path);
      delete_or_schedule(path, &outcome);
    }
  }
  // RemoveDirectoryA takes only empty folders, so whatever the user added
  // keeps its folder. A folder that still holds a file waiting for the
  // next start goes after it, when it is empty then.
  for (uint32_t i = 0; i < plan.folder_count; ++i) {
    planned_folder_path(plan.folders[i], path);
    if (!RemoveDirectoryA(path) && outcome.at_restart != 0) schedule_folder_removal(path);
  }
  native_files(false);
  char key[kUninstallKeyCapacity];
  for (uint32_t i = 0; i < plan.installation_count; ++i) {
    uint32_t root = 0;
    if (!planned_uninstall_key(plan.installations[i], key, &root)) continue;
    LONG r = delete_key(root_key(root), key);
    bool gone = r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
    char logged[kUninstallKeyCapacity + 8];
    registry_log_path(logged, sizeof logged, root, key);
    log_event(gone ? "removed" : "left", logged);
    outcome.left += !gone;
  }
  return outcome;
}
