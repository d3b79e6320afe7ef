// The current setup type's settings: INI entries, registry values, string
// patches in installed files, and the remembered installation folder.
#pragma once

void write_ini_entries();
void write_registry_entries();
void apply_string_patches();
// Writes InstallDir where the current setup type remembers its folder.
void remember_install_dir();
