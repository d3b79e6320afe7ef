// The current setup type's settings: INI entries, registry values, string
// patches in installed files, and the remembered installation folder.
#pragma once
#include <windows.h>

#include <cstdint>

#include "archive/entry_lists.h"

// The current setup type's list of `kind`: its records [*records, *end) and
// their count. False when the setup type has none.
bool current_list(EntryListKind kind, const uint8_t** records, const uint8_t** end, uint16_t* count);

void write_ini_entries();
void write_registry_entries();
void apply_string_patches();
// Writes InstallDir where the current setup type remembers its folder.
void remember_install_dir();
// The registry value just written, in the log, under the root's short name.
void log_registry_value(HKEY root, const char* key, const char* name, const char* data);

struct RecordFile;
// The SettingsList of the installation record: the INI entries, registry
// values and remembered folder that the project marked for deletion at
// uninstall, as the settings steps are about to write them. Written before
// them, so a record can tell which keys and INI files the setup creates.
// Nothing when none is marked.
void record_settings_to_delete(RecordFile* log);
