// Registrations with the system that the items and the final step make.
#pragma once
#include <windows.h>

#include <cstdint>

// Adds the font resource and its value under the Fonts key.
void register_font(const char* path);
// Calls DllRegisterServer of every item with registration 2.
void self_register_libraries();
// The key's default value, up to 260 bytes; 0 or the registry error.
long read_default_value(HKEY root, const char* key, char* buffer);
