// What removing an installation means, decided before anything is touched:
// every recorded path is resolved against its installation folder and
// checked, and only a record that passes as a whole, with every earlier
// installation it carries, yields a plan. Portable (no windows.h), so it is
// checked on the host as well.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "base/globals.h"
#include "record/uninstall_data.h"

// The folders that hold the start menu's programs, which shortcut folders
// may lie under, each without a trailing backslash. They themselves, and the
// folders in keep (Startup, the Start Menu), are never removed.
struct MenuFolders {
  char programs[2][kPathSize];
  unsigned program_count;
  char keep[4][kPathSize];
  unsigned keep_count;
};

// A folder that goes when it is empty: base followed by the first length
// bytes of text (base is an installation folder or empty; text lies in the
// record).
struct PlannedFolder {
  const char* base;
  const char* text;
  uint16_t length;
};

// Above any key name below the Uninstall key that Windows allows; also the
// room for a registry key, value name, INI section or key of a setting.
enum : unsigned { kUninstallKeyCapacity = 512, kSettingTextCapacity = 512 };

// One installation of the record: the newest, or one that an uninstaller
// at the same path served before the newest was written over it.
struct PlannedInstallation {
  UninstallData data;
  char install_dir[kPathSize];  // what "." means; no trailing backslash
};

struct RemovalPlan {
  PlannedInstallation* installations;  // the newest first
  uint32_t installation_count;
  PlannedFolder* folders;  // of every installation, deepest first, each once
  uint32_t folder_count;
};

// A setting to delete, its texts terminated.
struct PlannedSetting {
  uint8_t kind;  // kSettingRegistryValue or kSettingIniEntry
  uint32_t root;
  char path[kSettingTextCapacity];  // registry key or INI file
  char section[kSettingTextCapacity];
  char name[kSettingTextCapacity];
  uint8_t flags;
  uint8_t created_keys;
};

// uninstaller_folder (no trailing backslash) is where the uninstaller lies:
// an installation whose record names no installation folder lies there.
// The record's bytes must outlive the plan. False when some record cannot
// be what the setup wrote (a name with a backslash, a folder that is
// neither relative nor absolute, a path too long for Windows, a shortcut
// that is no .lnk, a key other than one below the Uninstall key, a setting
// outside the registry's roots or in a relative INI file): then nothing may
// be removed, and the plan is empty. free_removal_plan releases it.
bool plan_removal(const UninstallData& data, const char* uninstaller_folder, const MenuFolders& menu,
                  RemovalPlan* plan);
void free_removal_plan(RemovalPlan* plan);

// Whether plan_removal would take the record, without making the plan.
bool record_plans(const UninstallData& data, const char* uninstaller_folder);

// Two of the plan's rules for settings, for those who write records: a
// registry key to delete from has steps and none of them empty, "." or
// ".."; an INI file is named by its whole path ("C:\..." or a share). A
// record that breaks them plans nothing at all.
bool is_plain_registry_key(const char* key, size_t length);
bool is_plain_file_path(const char* path, size_t length);

// What "." means for an installation: the folder its record names, else
// the uninstaller's own; into kPathSize bytes, no trailing backslash.
bool installation_folder(const UninstallData& data, const char* uninstaller_folder, char* install_dir);
// The whole path a RemoveList record names, as the setup had it when it
// wrote the record: a file's path, a folder item's folder with a trailing
// backslash; into kPathSize bytes. False when it is no path the plan takes.
bool recorded_path(const char* install_dir, const RemoveRecord& record, char* path);

// The paths of a planned removal, each into kPathSize bytes. A folder item
// of the RemoveList names no file: planned_file_path answers false for it.
bool planned_file_path(const PlannedInstallation& installation, const RemoveRecord& record, char* path);
void planned_shortcut_path(const ShortcutRecord& record, char* path);
void planned_folder_path(const PlannedFolder& folder, char* path);
// The installation's Uninstall key, into kUninstallKeyCapacity bytes, and
// its root as the record stores it (HKEY_LOCAL_MACHINE or
// HKEY_CURRENT_USER); false when it has none.
bool planned_uninstall_key(const PlannedInstallation& installation, char* key, uint32_t* root);
void planned_setting(const SettingRecord& record, PlannedSetting* out);
