#include "uninstall/temporary_file.h"

#include <string.h>

bool temporary_folder(char* folder) {
  DWORD n = GetTempPathA(MAX_PATH, folder);
  return n != 0 && n < MAX_PATH;
}

bool create_temporary_file(const char* folder, const char* extension, char* path, HANDLE* file) {
  if (strlen(folder) + strlen(extension) + 8 >= MAX_PATH) return false;
  for (unsigned tries = 0; tries < 100; ++tries) {
    wsprintfA(path, "%skun%lx%s", folder, static_cast<unsigned long>(GetTickCount() + tries) & 0xFFFFF, extension);
    *file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (*file != INVALID_HANDLE_VALUE) return true;
  }
  return false;
}
