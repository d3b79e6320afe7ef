#include "app/interrupted_run.h"

#include <windows.h>

#include "app/unattended.h"
#include "archive/config.h"
#include "base/globals.h"
#include "base/setup_log.h"
#include "install/journal_file.h"
#include "install/rollback.h"

namespace {

enum : int { kTextInterrupted = 59 };
const char kInterruptedWords[] =
    "An earlier run of this setup was ended before it had finished. Setup will now take back what that run "
    "changed, and then go on.\r\n\r\nPress OK to go on, or Cancel to leave the setup.";

}  // namespace

int settle_interrupted_run() {
  char path[kPathSize];
  if (!find_interrupted_run(path)) return 0;
  log_event("interrupted", "found", path);
  if (!unattended()) {
    const char* text = get_text(6, kTextInterrupted);
    if (MessageBoxA(nullptr, *text ? text : kInterruptedWords, get_text(6, 0),
                    MB_OKCANCEL | MB_ICONWARNING | MB_SETFOREGROUND) != IDOK) {
      log_event("interrupted", "left");
      return kExitCancelled;
    }
  }
  take_back_interrupted_run(path);
  return 0;
}
