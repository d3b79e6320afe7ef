// The stub's and the uninstaller's start-up code: WinMain's arguments, then
// the process ends with WinMain's result. It stands in for the C runtime's,
// which brings argument vectors, thread-local storage, floating-point and
// pseudo-relocation set-up and an error printer (a third of the stub) that
// these programs never use. The C runtime DLL sets itself up when it is
// loaded, so its routines work as before. The programs leave through
// ExitProcess: destructors of static objects do not run.
#include "base/startup.h"

#include <windows.h>

// The constructors of static objects, gathered by the linker between -1 and 0.
extern "C" void (*__CTOR_LIST__[])();

// The entry point a GUI program has by default; the stub and the uninstaller
// come here from kestrel_entry (base/entry.cpp).
extern "C" int WinMainCRTStartup() {
  unsigned count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  while (count > 0) __CTOR_LIST__[count--]();

  // The command line after the program's own name, which may be quoted.
  const unsigned char* p = reinterpret_cast<const unsigned char*>(GetCommandLineA());
  bool quoted = false;
  while (*p > ' ' || (*p && quoted)) {
    if (*p == '"') quoted = !quoted;
    ++p;
  }
  while (*p && *p <= ' ') ++p;

  STARTUPINFOA startup;
  startup.dwFlags = 0;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr,
                                        const_cast<LPSTR>(reinterpret_cast<const char*>(p)), show)));
}
