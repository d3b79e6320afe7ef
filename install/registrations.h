// Registrations with the system that the items and the final step make.
#pragma once
#include <windows.h>

#include <cstdint>

// Adds the font resource and its value under the Fonts key.
void register_font(const char* path);
// Calls DllRegisterServer of every item with registration 2.
void self_register_libraries();
