#include "ui/sequencer.h"

#include "archive/config.h"
#include "ui/main_windows.h"
#include "ui/templates.h"

int CurrentPage = -1;
int PageResult;

void dispatch_wizard_message(MSG* message, HWND page) {
  if (ContainerDialog && IsDialogMessageA(ContainerDialog, message)) return;
  if (IsDialogMessageA(page, message)) return;
  TranslateMessage(message);
  DispatchMessageA(message);
}

int run_page(int template_number, DLGPROC procedure) {
  PageResult = 0;
  DLGTEMPLATE* copy = load_template(template_number);
  if (!copy) return kPageNext;
  HWND page = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), copy, ContainerDialog ? ContainerDialog : FrameWindow, procedure, 0);
  if (!page) {
    free_template(copy);
    return kPageToClosing;
  }
  while (PageResult == 0) {
    MSG message;
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {  // WM_QUIT ends the page; it is not posted again
      PageResult = kPageToClosing;
      break;
    }
    dispatch_wizard_message(&message, page);
  }
  DestroyWindow(page);
  free_template(copy);
  return PageResult;
}

void run_wizard(const WizardPage* table) {
  bool single_page = single_page_mode();
  CurrentPage = single_page ? StartPageNumber : 0;
  // A start page outside the table would index past it: show nothing.
  if (CurrentPage < 0 || CurrentPage > kLastPage) CurrentPage = -1;
  while (CurrentPage != -1) {
    const WizardPage& page = table[CurrentPage];
    int result = run_page(page.template_number, page.procedure);
    if (single_page) break;
    switch (result) {
      case kPageNext:
        CurrentPage = CurrentPage == kLastPage ? -1 : CurrentPage + 1;
        break;
      case kPageToClosing:
        CurrentPage = CurrentPage == kLastPage ? -1 : kLastPage;
        break;
      case kPageBack:
        if (CurrentPage > 0) --CurrentPage;
        break;
      default:
        break;
    }
  }
  CurrentPage = -1;
}

// Called, not inlined: each page that skips ahead would carry both stores
// and their addresses to relocate.
__attribute__((noinline)) void continue_at(int page) {
  CurrentPage = page - 1;
  PageResult = kPageNext;
}
