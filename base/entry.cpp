// The entry of the stub and the uninstaller, named to the linker.
#include "base/startup.h"
#include "base/system_libraries.h"

extern "C" int kestrel_entry() {
  restrict_library_search();
  return WinMainCRTStartup();
}
