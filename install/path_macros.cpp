#include "install/path_macros.h"

#include <shlobj.h>
#include <string.h>
#include <windows.h>

#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/system_libraries.h"
#include "install/folders.h"
#include "install/macro_tokens.h"
#include "install/registry_values.h"
#include "install/scope.h"

namespace {

// Appends to the working buffer as far as it has room, and counts every
// character, stored or not. The count stops short of the largest u32 so
// that a caller's length + 1 never wraps.
struct Expansion {
  char* buffer;
  uint32_t stored;
  uint32_t length;

  void put(const char* text, size_t count) {
    uint32_t room = kMacroCapacity - 1 - stored;
    uint32_t n = count < room ? static_cast<uint32_t>(count) : room;
    memcpy(buffer + stored, text, n);
    stored += n;
    uint64_t total = static_cast<uint64_t>(length) + count;
    length = total < 0xFFFFFFFFu ? static_cast<uint32_t>(total) : 0xFFFFFFFEu;
  }
};

enum class Token { kReplaced, kDropped, kKept };

// A directory query into a 260-byte buffer: empty when the call fails or
// the folder does not fit.
void folder_or_empty(char* value, UINT result) {
  if (result == 0 || result >= kPathSize) value[0] = '\0';
}

// FOLDERID_UserProgramFiles, {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}.
const GUID kUserProgramFiles = {0x5CD7AEE2, 0x2219, 0x4A67, {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}};
enum : DWORD { kKnownFolderCreate = 0x00008000 };  // KF_FLAG_CREATE

// The user's program folder, made when missing: FOLDERID_UserProgramFiles
// where the system knows it, else the local application data folder +
// "\Programs". out: kPathSize bytes.
bool user_program_files(char* out) {
  typedef HRESULT(WINAPI * KnownFolderPath)(const GUID&, DWORD, HANDLE, WCHAR**);
  KnownFolderPath lookup = as_call<KnownFolderPath>(loaded_library_call("shell32.dll", "SHGetKnownFolderPath"));
  WCHAR* wide = nullptr;
  if (lookup && SUCCEEDED(lookup(kUserProgramFiles, kKnownFolderCreate, nullptr, &wide)) && wide) {
    bool converted = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, kPathSize, nullptr, nullptr) != 0;
    CoTaskMemFree(wide);
    if (converted) return true;
  }
  if (!special_folder_path(CSIDL_LOCAL_APPDATA, out) || !add_backslash(out, kPathSize) ||
      !append_string(out, "Programs", kPathSize))
    return false;
  CreateDirectoryA(out, nullptr);
  return true;
}

// value: kPathSize bytes.
Token replace_token(int macro, char* value) {
  value[0] = '\0';
  switch (macro) {
    case kMacroWindows: folder_or_empty(value, GetWindowsDirectoryA(value, kPathSize)); break;
    case kMacroSystem: folder_or_empty(value, GetSystemDirectoryA(value, kPathSize)); break;
    case kMacroProgramFiles:
      // A per-user product goes where its user may write.
      if (per_user_scope()) {
        if (!user_program_files(value)) return Token::kKept;
      } else if (!read_registry_path(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                                     "ProgramFilesDir", value)) {
        return Token::kKept;
      }
      break;
    case kMacroInstallDir: copy_string(value, InstallDir, kPathSize); break;
    case kMacroSourceDir: {
      copy_string(value, SourcePath, kPathSize);
      char* slash = strrchr(value, '\\');
      // A bare file name has no folder to name.
      if (slash) *slash = '\0';
      else value[0] = '\0';
      break;
    }
    case kMacroDate: {
      SYSTEMTIME now;
      GetSystemTime(&now);
      wsprintfA(value, "%lu", static_cast<unsigned long>(now.wYear * 10000ul + now.wMonth * 100ul + now.wDay));
      break;
    }
    default: return Token::kDropped;
  }
  strip_backslash(value);
  return Token::kReplaced;
}

}  // namespace

uint32_t expand_macros(char* out, const char* text, uint32_t capacity) {
  Expansion e = {nullptr, 0, 0};
  if (!alloc_zeroed(kMacroCapacity, &e.buffer)) {
    if (out) copy_string(out, text, capacity);
    return static_cast<uint32_t>(strlen(text));
  }
  char value[kPathSize];
  const char* p = text;
  size_t length = 0;
  // An unpaired '#' and what follows stay as written.
  while (const char* first = next_macro_token(p, &length)) {
    e.put(p, first - p);
    switch (replace_token(macro_of_token(first, length), value)) {
      case Token::kReplaced: e.put(value, strlen(value)); break;
      case Token::kKept: e.put(first, length); break;
      case Token::kDropped: break;
    }
    p = first + length;
  }
  e.put(p, strlen(p));

  if (out && capacity > 0) {
    uint32_t n = e.stored < capacity - 1 ? e.stored : capacity - 1;
    memcpy(out, e.buffer, n);
    out[n] = '\0';
  }
  free_block(&e.buffer);
  return e.length;
}
