#include "base/native_mode.h"
#include "base/shared_count.h"

#include <windows.h>

SharedRelease release_shared_count(const char* path) {
  HKEY key = nullptr;
  if (open_key(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return SharedRelease::kUnknown;
  DWORD type = 0;
  BYTE bytes[4] = {};
  DWORD size = sizeof bytes;
  SharedRelease result = SharedRelease::kUnknown;
  // The setup writes the count back with the type and size it read, so any
  // four-byte value is a count; anything else is not ours to change.
  if (RegQueryValueExA(key, path, nullptr, &type, bytes, &size) == ERROR_SUCCESS && size == 4) {
    DWORD count = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
    if (count > 1) {
      --count;
      for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(count >> (8 * i));
      if (RegSetValueExA(key, path, 0, type, bytes, 4) == ERROR_SUCCESS) result = SharedRelease::kStillUsed;
    } else if (RegDeleteValueA(key, path) == ERROR_SUCCESS) {
      result = SharedRelease::kLastUser;
    }
  }
  RegCloseKey(key);
  return result;
}
