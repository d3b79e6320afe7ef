#include "install/document_opener.h"

#include <string.h>

#include "base/globals.h"
#include "base/memory.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "install/desktop_shell.h"

long read_default_value(HKEY root, const char* key_path, char* buffer) {
  buffer[0] = '\0';
  HKEY key;
  LONG result = open_key(root, key_path, KEY_QUERY_VALUE, &key);
  if (result != ERROR_SUCCESS) return result;
  LONG size = kPathSize;
  if (RegQueryValueA(key, nullptr, buffer, &size) != ERROR_SUCCESS) buffer[0] = '\0';
  buffer[kPathSize - 1] = '\0';  // a value that fills the buffer may lack its terminator
  RegCloseKey(key);
  return 0;
}

uint32_t open_document(const char* target, const char* fallback_extension) {
  // With administrator rights, opened as the desktop's user where the
  // shell offers a way (above 32: opened).
  if (runs_elevated() && start_through_shell(target, "", "")) return 33;
  uintptr_t shell = reinterpret_cast<uintptr_t>(ShellExecuteA(nullptr, "open", target, nullptr, nullptr, SW_SHOW));
  if (shell > 32) return static_cast<uint32_t>(shell);
  static const char kOpenCommand[] = "\\shell\\open\\command";
  char key_path[kPathSize + sizeof kOpenCommand];
  long error = read_default_value(HKEY_CLASSES_ROOT, fallback_extension, key_path);
  if (error) return static_cast<uint32_t>(error);
  append_string(key_path, kOpenCommand, sizeof key_path);  // sized to take it
  char command[kPathSize];
  error = read_default_value(HKEY_CLASSES_ROOT, key_path, command);
  if (error) return static_cast<uint32_t>(error);
  // The placeholder goes, quotes and all; the target follows unquoted.
  char* cut = strstr(command, "\"%1\"");
  if (!cut) cut = strstr(command, "%1");
  if (cut) *cut = '\0';
  size_t kept = strlen(command), target_length = strlen(target);
  char* line = nullptr;
  if (!alloc_block(kept + target_length + 2, &line)) return 0;
  memcpy(line, command, kept);
  line[kept] = ' ';
  memcpy(line + kept + 1, target, target_length + 1);
  uint32_t result = WinExec(line, SW_SHOW);
  free_block(&line);
  return result;
}
