#include "base/library_registration.h"

#include <windows.h>

#include "base/system_libraries.h"

void unregister_library(const char* path) {
  // A library whose imports are missing must fail quietly, not stop the
  // removal behind a system dialog.
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library = load_installed_library(path);
  SetErrorMode(old_mode);
  if (!library) return;
  typedef HRESULT(WINAPI * Unregister)();
  Unregister unregister = reinterpret_cast<Unregister>(reinterpret_cast<void*>(GetProcAddress(library, "DllUnregisterServer")));
  if (unregister) unregister();
  FreeLibrary(library);
}
