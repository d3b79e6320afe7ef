#include "app/unattended.h"

#include <windows.h>

#include "archive/config.h"
#include "archive/error_codes.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/setup_log.h"
#include "install/engine.h"
#include "ui/finish_page.h"
#include "ui/page_table.h"
#include "ui/pages.h"

bool unattended() { return Switches.mode != RunMode::kWizard; }

int refuse_command_line(const char* why, const char* what) {
  char text[sizeof Switches.bad + kPathSize + 64];
  copy_string(text, why, sizeof text);
  append_string(text, what, sizeof text);
  log_number("error", kExitBadCommandLine, text);
  const char* caption = get_text(6, 0);
  if (Switches.mode != RunMode::kVerySilent)
    MessageBoxA(nullptr, text, *caption ? caption : nullptr, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
  return kExitBadCommandLine;
}

int refuse_platform() {
  const char* text = get_text(6, 43);
  log_number("error", kExitUnsupportedPlatform, text);
  const char* caption = get_text(6, 0);
  if (Switches.mode != RunMode::kVerySilent && *text)
    MessageBoxA(nullptr, text, *caption ? caption : nullptr, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
  return kExitUnsupportedPlatform;
}

int apply_switches() {
  if (Switches.has_type) {
    if (Switches.setup_type >= SetupTypeCount) {
      char number[4];
      format_decimal(number, sizeof number, static_cast<unsigned long>(Switches.setup_type), 1);
      return refuse_command_line("This setup has no setup type ", number);
    }
    select_setup_type(Switches.setup_type);
  }
  if (Switches.dir[0]) {
    for (int i = 0; i < SetupTypeCount; ++i)
      if (SetupTypeTable[i].folder) copy_string(SetupTypeTable[i].folder, Switches.dir, kPathSize);
    copy_string(InstallDir, Switches.dir, kPathSize);
  }
  return 0;
}

void run_unattended() {
  int folder = settle_install_folder();
  if (folder != kSpaceOk) {
    ErrorState = folder;  // the number of the text that says why
    log_error();
    return;
  }
  log_event("folder", InstallDir);
  CurrentPage = kProgressPage;
  run_page(PageTable[kProgressPage].template_number, PageTable[kProgressPage].procedure);
  CurrentPage = -1;
  if (UserCancelled)
    log_event("cancelled");
  else if (InstallDone)
    settle_outcome();
  else if (ErrorState != 0)
    log_error();  // given up at the disk prompt
}

int outcome_code() {
  // Giving up at the disk prompt is the user's cancel; unattended it is
  // the setup's failure.
  if (UserCancelled || (ErrorState == kErrorDiskGivenUp && !unattended())) return kExitCancelled;
  if (ErrorState != 0 || (unattended() && !InstallDone)) return kExitFailed;
  return RestartNeeded ? kExitRestartNeeded : 0;
}
