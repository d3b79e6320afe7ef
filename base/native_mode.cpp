#include "base/native_mode.h"

#include "base/globals.h"
#include "base/system_libraries.h"

namespace {

bool FilesNative;   // redirection switched off by native_files
void* Redirection;  // what Wow64DisableWow64FsRedirection gave, for its revert

FARPROC kernel_call(const char* name) { return loaded_library_call("kernel32.dll", name); }

}  // namespace

uint16_t native_machine() {
  typedef BOOL(WINAPI * Wow64Process2)(HANDLE, USHORT*, USHORT*);
  typedef BOOL(WINAPI * Wow64Process)(HANDLE, BOOL*);
  typedef void(WINAPI * NativeInfo)(SYSTEM_INFO*);
  USHORT process = 0, native = 0;
  if (FARPROC call = kernel_call("IsWow64Process2")) {
    if (as_call<Wow64Process2>(call)(GetCurrentProcess(), &process, &native) && native) return native;
  }
  BOOL wow64 = FALSE;
  FARPROC call = kernel_call("IsWow64Process");
  if (!call || !as_call<Wow64Process>(call)(GetCurrentProcess(), &wow64) || !wow64) return IMAGE_FILE_MACHINE_I386;
  // Before IsWow64Process2 a 32-bit program ran under emulation on x64
  // and Itanium machines only, which the system information tells apart.
  SYSTEM_INFO info;
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
  if (FARPROC system = kernel_call("GetNativeSystemInfo")) as_call<NativeInfo>(system)(&info);
  if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) return IMAGE_FILE_MACHINE_AMD64;
  if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64) return IMAGE_FILE_MACHINE_IA64;
  return IMAGE_FILE_MACHINE_UNKNOWN;
}

void enter_native_mode() { RegistryView = KEY_WOW64_64KEY; }

bool native_files(bool on) {
  typedef BOOL(WINAPI * Switch)(void**);
  bool was = FilesNative;
  if (!RegistryView || on == FilesNative) return was;
  FARPROC call = kernel_call(on ? "Wow64DisableWow64FsRedirection" : "Wow64RevertWow64FsRedirection");
  if (on) {
    FilesNative = call && as_call<Switch>(call)(&Redirection);
  } else {
    // The revert takes the saved value itself, not its address.
    typedef BOOL(WINAPI * Revert)(void*);
    if (call) as_call<Revert>(call)(Redirection);
    FilesNative = false;
  }
  return was;
}

LONG open_key(HKEY root, const char* path, REGSAM access, HKEY* key) {
  return RegOpenKeyExA(root, path, 0, access | RegistryView, key);
}

LONG create_key(HKEY root, const char* path, HKEY* key) {
  return RegCreateKeyExA(root, path, 0, nullptr, 0, MAXIMUM_ALLOWED | RegistryView, nullptr, key, nullptr);
}

LONG delete_key(HKEY root, const char* path) {
  typedef LONG(WINAPI * DeleteKeyEx)(HKEY, const char*, REGSAM, DWORD);
  // RegDeleteKeyA deletes in the program's own view; the call that takes
  // a view is missing before Vista and on 32-bit XP, outside the mode.
  if (RegistryView) {
    if (FARPROC call = loaded_library_call("advapi32.dll", "RegDeleteKeyExA"))
      return as_call<DeleteKeyEx>(call)(root, path, RegistryView, 0);
  }
  return RegDeleteKeyA(root, path);
}
