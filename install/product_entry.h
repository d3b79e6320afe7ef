// What the project tells about its product beyond the uninstall name: the
// rest of the Add/Remove Programs entry, and the uninstaller's own texts,
// which the setup hands on in the installation record.
#pragma once
#include <windows.h>

struct RecordFile;

// Notes for a rollback every value of the entry, DisplayName and
// UninstallString among them; false when one cannot be noted.
bool note_entry_values(const char* key_path);
// The open Uninstall key's values beside DisplayName and UninstallString
// (`command`, quoted): QuietUninstallString, InstallLocation and
// EstimatedSize always; DisplayVersion, Publisher, URLInfoAbout and
// DisplayIcon as the project gives them, and deleted when it does not, so
// that none is left from an earlier version. InstallDir ends in a
// backslash.
void set_product_values(HKEY key, const char* key_path, const char* command);
// The LanguageTexts block, in a setup of several languages, and the
// UninstallerTexts block, when the project gives the uninstaller texts.
void write_uninstaller_texts(RecordFile* log);
