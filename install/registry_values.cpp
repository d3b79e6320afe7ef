#include "install/registry_values.h"

#include "base/globals.h"
#include "base/native_mode.h"

bool read_registry_path(HKEY root, const char* key_path, const char* name, char* out) {
  out[0] = '\0';
  HKEY key;
  if (open_key(root, key_path, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = kPathSize;
  LONG result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) out[0] = '\0';
  out[kPathSize - 1] = '\0';  // a value that fills the buffer may lack its terminator
  return result == ERROR_SUCCESS;
}
