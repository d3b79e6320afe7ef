// Stands in for a self-registering library of an installed product: its
// registration routines leave their mark under HKCU\Software\Kestrel Marks,
// value "Registration", so a scenario sees which of them ran last.
#include <windows.h>

namespace {

HRESULT mark(const char* state) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Kestrel Marks", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return E_FAIL;
  LONG result = RegSetValueExA(key, "Registration", 0, REG_SZ, reinterpret_cast<const BYTE*>(state),
                               static_cast<DWORD>(lstrlenA(state) + 1));
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? S_OK : E_FAIL;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() { return mark("registered"); }
extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() { return mark("unregistered"); }
