// The wizard's page sequence: eight pages, each a modeless dialog with a
// message loop of its own, run one after another.
#pragma once
#include <windows.h>

#include "install/engine_reports.h"

struct WizardPage {
  int template_number;  // of the DialogTemplateStore
  int text_list;        // the list whose texts 0 to 4 the page set-up shows
  DLGPROC procedure;
};

// One message of a page's loop: the keys of the container and of `page`
// go to their dialogs, everything else to its window.
void dispatch_wizard_message(MSG* message, HWND page);
// Runs one page and returns its PageResult: 1 when its template cannot be
// copied (passed over), 2 when the dialog cannot be created.
int run_page(int template_number, DLGPROC procedure);
// Runs the whole sequence from the start page; returns when it has ended.
void run_wizard(const WizardPage* table);
