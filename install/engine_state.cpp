#include "install/engine_state.h"

#include "base/globals.h"
#include "base/path_strings.h"

int32_t ErrorState = 0;
uint32_t SavedSystemError = 0;
bool RestartNeeded = false;
bool UserCancelled = false;
bool InstallRunning = false;
bool InstallDone = false;
const uint8_t* ScreenSaverItem = nullptr;
const uint8_t* DocumentItem = nullptr;
const uint8_t* ProgramItem = nullptr;
int32_t ItemIndex = -1;
uint8_t* CurrentEntry = nullptr;
uint32_t ItemCount = 0;
uint32_t UninstallerImageSize = 0;

void forget_role_items() {
  ScreenSaverItem = nullptr;
  DocumentItem = nullptr;
  ProgramItem = nullptr;
}

bool fail_install(int32_t code, const char* argument) {
  ErrorState = code;
  copy_string(MessageArgument, argument, kPathSize);
  return false;
}
