#include "base/native_mode.h"
#include "base/shared_count.h"

#include <windows.h>

namespace {

struct Count {
  HKEY key = nullptr;
  DWORD type = 0;
  DWORD value = 0;
};

// The count of the file at path, its key open for changing it. The setup
// writes the count back with the type and size it read, so any four-byte
// value is a count; anything else is not ours to change. False (the key
// closed) without one.
bool open_count(const char* path, Count* count) {
  if (open_key(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_QUERY_VALUE | KEY_SET_VALUE, &count->key) !=
      ERROR_SUCCESS)
    return false;
  BYTE bytes[4] = {};
  DWORD size = sizeof bytes;
  if (RegQueryValueExA(count->key, path, nullptr, &count->type, bytes, &size) == ERROR_SUCCESS && size == 4) {
    count->value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
    return true;
  }
  RegCloseKey(count->key);
  return false;
}

bool write_count(const char* path, const Count& count) {
  BYTE bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(count.value >> (8 * i));
  return RegSetValueExA(count.key, path, 0, count.type, bytes, 4) == ERROR_SUCCESS;
}

}  // namespace

SharedRelease release_shared_count(const char* path) {
  Count count;
  if (!open_count(path, &count)) return SharedRelease::kUnknown;
  SharedRelease result = SharedRelease::kUnknown;
  if (count.value > 1) {
    --count.value;
    if (write_count(path, count)) result = SharedRelease::kStillUsed;
  } else if (RegDeleteValueA(count.key, path) == ERROR_SUCCESS) {
    result = SharedRelease::kLastUser;
  }
  RegCloseKey(count.key);
  return result;
}

void take_back_shared_count(const char* path, uint32_t raised, bool existed) {
  Count count;
  if (!open_count(path, &count)) return;
  if (count.value > raised) {
    count.value -= raised;
    write_count(path, count);
  } else if (!existed) {
    RegDeleteValueA(count.key, path);
  } else if (count.value != 1) {
    // Others released more than they had meanwhile.
    count.value = 1;
    write_count(path, count);
  }
  RegCloseKey(count.key);
}
