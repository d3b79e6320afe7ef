// Values read from the registry.
#pragma once
#include <windows.h>

// The string value `name` of the key into `out` (kPathSize bytes). False,
// with `out` empty, when the key or the value cannot be read or the value
// does not fit; a value that fills the buffer exactly is cut to end in
// its terminator.
bool read_registry_path(HKEY root, const char* key_path, const char* name, char* out);
