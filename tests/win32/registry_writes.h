// Registry values as the code under test hands them to RegSetValueExA and
// as the registry then holds them, both compared byte for byte. Windows and
// Wine store a text written without its terminating zero with one whenever
// a zero follows the data, so the stored value alone cannot tell whether a
// text was written with or without its terminator: the recorded call can.
// Include in one file of a test program only.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct RegistryWrite {
  std::string name;  // value name; empty for the key's default value
  DWORD type;
  std::string data;  // exactly the bytes passed, as many as the size says
};
std::vector<RegistryWrite> RegistryWrites;

extern "C" LONG WINAPI record_registry_write(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                             DWORD size) {
  RegistryWrites.push_back(
      {name ? name : "", type, data ? std::string(reinterpret_cast<const char*>(data), size) : std::string()});
  static auto real = reinterpret_cast<LONG(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegSetValueExA")));
  return real(key, name, reserved, type, data, size);
}

// The import slot through which every call of RegSetValueExA in the program
// goes; this definition, linked before the import library, is the one used.
#ifdef _WIN64
extern "C" void* registry_write_slot __asm__("__imp_RegSetValueExA");
#else
extern "C" void* registry_write_slot __asm__("__imp__RegSetValueExA@24");
#endif
void* registry_write_slot = reinterpret_cast<void*>(&record_registry_write);

// The data of the last write of value `name`, or "<none>".
inline std::string written_value(const std::string& name) {
  for (auto w = RegistryWrites.rbegin(); w != RegistryWrites.rend(); ++w)
    if (w->name == name) return w->data;
  return "<none>";
}

// A text as it is stored with its terminating zero.
inline std::string with_terminator(const std::string& text) { return text + '\0'; }

// The value's data exactly as stored, a terminator included, with its type;
// "<none>" when it is missing.
inline std::string stored_value(HKEY root, const char* key_path, const char* name, DWORD* type = nullptr) {
  HKEY key;
  if (RegOpenKeyExA(root, key_path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
  char data[512];
  DWORD size = sizeof data, kind = 0;
  LONG result = RegQueryValueExA(key, name, nullptr, &kind, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return "<none>";
  if (type) *type = kind;
  return std::string(data, size);
}
