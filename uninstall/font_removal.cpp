#include "uninstall/font_removal.h"

#include <windows.h>

#include <cstring>

#include "base/fonts_key.h"

namespace {

// The Fonts value's name is the font's full name, which only the font file
// knows; its data is the file name, so the values are found by their data.
void delete_fonts_values(const char* fonts_key, const char* path) {
  const char* slash = std::strrchr(path, '\\');
  const char* file_name = slash ? slash + 1 : path;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, fonts_key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  DWORD index = 0;
  for (;;) {
    char name[256];
    char data[MAX_PATH];
    DWORD name_size = sizeof name;
    DWORD data_size = sizeof data - 1;
    DWORD type = 0;
    LONG r = RegEnumValueA(key, index, name, &name_size, nullptr, &type, reinterpret_cast<BYTE*>(data),
                           &data_size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    // A value too long for the buffers cannot be one of ours; skip it.
    bool ours = false;
    if (r == ERROR_SUCCESS && type == REG_SZ) {
      data[data_size] = '\0';
      ours = lstrcmpiA(data, file_name) == 0 || lstrcmpiA(data, path) == 0;
    }
    // Deleting shifts the later values down, so the index stays.
    if (ours && RegDeleteValueA(key, name) == ERROR_SUCCESS) continue;
    ++index;
  }
  RegCloseKey(key);
}

}  // namespace

void remove_font(const char* path) {
  // A hung window must not hold up the uninstaller, and with it a setup
  // that waits for the uninstaller to end.
  if (RemoveFontResourceA(path))
    SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
  delete_fonts_values(fonts_key(), path);
  // Setups before this one listed fonts on NT under the 95 family's key.
  if (IsNtFamily) delete_fonts_values(k95FontsKey, path);
}
