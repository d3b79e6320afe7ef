#include "app/unattended.h"

#include <windows.h>

#include "archive/config.h"
#include "archive/error_codes.h"
#include "archive/format.h"
#include "archive/languages.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "base/text_format.h"
#include "install/engine.h"
#include "install/product_identity.h"
#include "ui/finish_page.h"
#include "ui/page_table.h"
#include "ui/pages.h"

bool unattended() { return Switches.mode != RunMode::kWizard; }

// The words of texts 6/47 to 6/50 for a setup whose tables do not carry
// them (one built before they were texts, or of one language); a setup of
// several languages carries 6/51 and 6/52 in every table.
const char* const kStartTexts[] = {
    "This setup has no setup type %s",
    "The log file cannot be created: %s",
    "This switch cannot be used: %s",
    "This setup does not offer the language %s.",
};

const char* StartCommandLine;

void log_start() {
  static bool written;
  if (written) return;
  written = true;
  log_event("start", SourcePath, StartCommandLine,
            ChosenLanguage ? reinterpret_cast<const char*>(ChosenLanguage + kLanguageCode) : nullptr);
}

// The refusal in the log and, unless very silent and where there is one,
// in a box; answers `code`.
int say_refusal(int code, const char* message) {
  log_start();
  log_number("error", code, message);
  const char* caption = get_text(6, 0);
  if (Switches.mode != RunMode::kVerySilent && *message)
    MessageBoxA(nullptr, message, *caption ? caption : nullptr, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
  return code;
}

int refuse_start(int code, int text, const char* what, TextArgument kind) {
  char message[kMessageCapacity];
  const char* words = get_text(6, text);
  if (!*words && text <= kTextNoSuchLanguage) words = kStartTexts[text - kTextNoSetupType];
  format_text(message, sizeof message, words, what, kind);
  return say_refusal(code, message);
}

int refuse_command_line(int text, const char* what) {
  return refuse_start(kExitBadCommandLine, text, what, TextArgument::kString);
}

int refuse_platform() { return say_refusal(kExitUnsupportedPlatform, get_text(6, 43)); }

int apply_switches() {
  if (Switches.has_type) {
    if (Switches.setup_type >= SetupTypeCount) {
      char number[4];
      format_decimal(number, sizeof number, static_cast<unsigned long>(Switches.setup_type), 1);
      return refuse_command_line(kTextNoSetupType, number);
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

int settle_product_case() {
  if (find_installed_version() != ProductCase::kDowngrade) return 0;
  uint8_t rule = ProductIdentity[0];
  if (rule == kDowngradeAllow || (rule == kDowngradeAsk && Switches.allow_downgrade)) return 0;
  char message[kMessageCapacity];
  bool ask = rule == kDowngradeAsk;
  format_text(message, sizeof message, get_text(6, ask ? kTextDowngradeQuestion : kTextDowngradeRefused),
              InstalledVersion);
  if (message_box(message, ask ? MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 : MB_OK | MB_ICONSTOP) == IDYES) return 0;
  log_number("error", kExitDowngrade, message);
  return kExitDowngrade;
}

int outcome_code() {
  // Giving up at the disk prompt is the user's cancel; unattended it is
  // the setup's failure.
  if (UserCancelled || (ErrorState == kErrorDiskGivenUp && !unattended())) return kExitCancelled;
  if (ErrorState != 0 || (unattended() && !InstallDone)) return kExitFailed;
  return RestartNeeded ? kExitRestartNeeded : 0;
}
