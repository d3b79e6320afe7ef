// Win32 side of the seam's message box: the setup's caption, owned by the
// wizard's topmost window; every message in the log.
#include <windows.h>

#include "archive/config.h"
#include "base/command_line.h"
#include "base/native_mode.h"
#include "base/platform.h"
#include "base/setup_log.h"
#include "install/engine_reports.h"
#include "ui/main_windows.h"

static_assert(kMbOk == MB_OK && kMbOkCancel == MB_OKCANCEL && kMbYesNo == MB_YESNO &&
                  kMbRetryCancel == MB_RETRYCANCEL,
              "message box buttons");
static_assert(kMbIconQuestion == MB_ICONQUESTION && kMbIconExclamation == MB_ICONEXCLAMATION &&
                  kMbIconInformation == MB_ICONINFORMATION,
              "message box icons");
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdAbort == IDABORT && kIdRetry == IDRETRY &&
                  kIdIgnore == IDIGNORE && kIdYes == IDYES && kIdNo == IDNO,
              "message box answers");

// The answer's word in the log, by its number (IDOK 1 to IDNO 7).
static const char kAnswers[][7] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};

// Unattended, nobody answers: a question takes its default button (No
// where the setup asks before keeping the existing file), a disk prompt
// Cancel, a file in use Abort (install_item retries before it asks).
static int unattended_answer(unsigned style) {
  unsigned buttons = style & MB_TYPEMASK;
  if (buttons == MB_YESNO) return (style & MB_DEFMASK) == MB_DEFBUTTON2 ? IDNO : IDYES;
  if (buttons == MB_OKCANCEL || buttons == MB_RETRYCANCEL) return IDCANCEL;
  if (buttons == MB_ABORTRETRYIGNORE) return IDABORT;
  return IDOK;
}

int message_box(const char* text, unsigned style) {
  // A question about an item comes with that item's name on the page.
  show_waiting_file();
  HWND owner = ContainerDialog ? ContainerDialog : FrameWindow;
  // The box may load libraries, which must be this program's own kind.
  bool native = native_files(false);
  int answer = Switches.mode != RunMode::kWizard ? unattended_answer(style)
                                                 : MessageBoxA(owner, text, get_text(6, 0), style);
  native_files(native);
  log_event("message", text, static_cast<unsigned>(answer) <= IDNO ? kAnswers[answer] : "");
  return answer;
}
