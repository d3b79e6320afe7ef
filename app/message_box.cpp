// Win32 side of the seam's message box: the setup's caption, owned by the
// wizard's topmost window.
#include <windows.h>

#include "app/main_windows.h"
#include "archive/config.h"
#include "archive/platform.h"

static_assert(kMbOk == MB_OK && kMbOkCancel == MB_OKCANCEL && kMbYesNo == MB_YESNO &&
                  kMbRetryCancel == MB_RETRYCANCEL,
              "message box buttons");
static_assert(kMbIconQuestion == MB_ICONQUESTION && kMbIconExclamation == MB_ICONEXCLAMATION &&
                  kMbIconInformation == MB_ICONINFORMATION,
              "message box icons");
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdAbort == IDABORT && kIdRetry == IDRETRY &&
                  kIdIgnore == IDIGNORE && kIdYes == IDYES && kIdNo == IDNO,
              "message box answers");

int message_box(const char* text, unsigned style) {
  HWND owner = ContainerDialog ? ContainerDialog : FrameWindow;
  return MessageBoxA(owner, text, get_text(6, 0), style);
}
