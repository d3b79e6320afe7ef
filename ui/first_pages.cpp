// The welcome, licence and setup type pages, and the skipping between them.
#include "archive/config.h"
#include "ui/main_windows.h"
#include "ui/page_setup.h"
#include "ui/pages.h"
#include "ui/sequencer.h"

enum : int {
  kFirstTypeButton = 1021,
  kLastTypeButton = 1026,
};

enum : unsigned { kFullMask = ButtonBack | ButtonNext | ButtonCancel };

// Both facts follow the selected setup type.
static bool licence_present() { return get_text(1, 1)[0] != '\0'; }

INT_PTR CALLBACK welcome_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    page_setup(page, ButtonNext | ButtonCancel);
    return FALSE;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == kNextButton && !licence_present()) {
    continue_at(SetupTypeCount > 1 ? kSetupTypePage : kDestinationPage);
    return command_handled_answer(page);
  }
  return control_colour_answer(page, message, wparam, lparam);
}

INT_PTR CALLBACK licence_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    page_setup(page, kFullMask);
    const char* caption = get_text(1, 2);
    if (caption[0]) SetDlgItemTextA(ContainerDialog, kNextButton, caption);
    return FALSE;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == kNextButton && SetupTypeCount == 1) {
    continue_at(kDestinationPage);
    return command_handled_answer(page);
  }
  // Tab in the licence text asks this page for the next control, and the
  // page holds no other: the container, which holds the buttons too, finds it.
  if (message == WM_NEXTDLGCTL) {
    SendMessageA(ContainerDialog, message, wparam, lparam);
    return TRUE;
  }
  return control_colour_answer(page, message, wparam, lparam);
}

static void show_setup_types(HWND page) {
  for (int i = 0; i < SetupTypeCount; ++i) {
    HWND button = GetDlgItem(page, kFirstTypeButton + i);
    if (!button) continue;
    if (const char* caption = SetupTypeTable[i].record.caption) SetWindowTextA(button, caption);
    EnableWindow(button, TRUE);
    ShowWindow(button, SW_SHOWNORMAL);
  }
  CheckRadioButton(page, kFirstTypeButton, kLastTypeButton, kFirstTypeButton + CurrentSetupType);
}

// The first checked button among the existing types becomes the selection.
static void follow_selection(HWND page) {
  for (int i = 0; i < SetupTypeCount; ++i) {
    if (SendDlgItemMessageA(page, kFirstTypeButton + i, BM_GETCHECK, 0, 0) != BST_CHECKED) continue;
    select_setup_type(i);
    page_setup(page, kFullMask);
    return;
  }
}

INT_PTR CALLBACK setup_type_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    page_setup(page, kFullMask);
    show_setup_types(page);
    return FALSE;
  }
  if (message == WM_COMMAND) {
    int id = LOWORD(wparam);
    if (id >= kFirstTypeButton && id <= kLastTypeButton) {
      follow_selection(page);
    } else if (id == kNextButton) {
      continue_at(kDestinationPage);
      return command_handled_answer(page);
    } else if (id == kBackButton && !licence_present()) {
      continue_at(kWelcomePage);
      return command_handled_answer(page);
    }
  }
  return control_colour_answer(page, message, wparam, lparam);
}
