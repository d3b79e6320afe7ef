// The wizard's page sequence: eight pages, each a modeless dialog with a
// message loop of its own, run one after another.
#pragma once
#include <windows.h>

struct WizardPage {
  int template_number;  // of the DialogTemplateStore
  int text_list;        // the list whose texts 0 to 4 the page set-up shows
  DLGPROC procedure;
};

enum : int { kPageCount = 8, kLastPage = kPageCount - 1 };
// The pages by their number in the sequence.
enum : int {
  kWelcomePage = 0,
  kLicencePage = 1,
  kSetupTypePage = 2,
  kDestinationPage = 3,
  kReadyPage = 4,
  kProgressPage = 5,
  kFinishPage = 6,
  kClosingPage = 7,
};

// PageResult values; 1007 is also the Back button's id.
enum : int { kPageNext = 1, kPageToClosing = 2, kPageBack = 1007 };

extern int CurrentPage;  // 0..7 while the wizard runs, -1 once it has ended
extern int PageResult;   // 0 while a page runs; non-zero ends it

// Runs one page and returns its PageResult: 1 when its template cannot be
// copied (passed over), 2 when the dialog cannot be created.
int run_page(int template_number, DLGPROC procedure);
// Runs the whole sequence from the start page; returns when it has ended.
void run_wizard(const WizardPage* table);
// Ends the current page so that the sequencer lands on page n next.
void continue_at(int page);
