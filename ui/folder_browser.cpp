#include "ui/folder_browser.h"

#include <commdlg.h>

#include <cstddef>

#include "archive/config.h"
#include "base/globals.h"
#include "base/memory.h"
#include "base/path_strings.h"
#include "base/system_libraries.h"
#include "ui/page_setup.h"
#include "ui/templates.h"

// The record without the fields of later Windows, which every Windows
// accepts: it ends with lpTemplateName (76 bytes in a 32-bit program).
static const DWORD kDialogRecordSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the old record of 32-bit Windows");

enum : int { kBrowserTemplate = 7, kPathField = 101, kFolderLabel = 1009, kDriveLabel = 1091 };

// The common dialog library from the System folder, loaded at the first
// browse: imported for this one call, it would cost every setup an import
// directory entry of its own.
static BOOL save_file_name(OPENFILENAMEA* dialog) {
  typedef BOOL(WINAPI * Call)(OPENFILENAMEA*);
  static HMODULE library;
  if (!library) library = load_system_library("comdlg32.dll");
  FARPROC call = library ? GetProcAddress(library, "GetSaveFileNameA") : nullptr;
  return call && as_call<Call>(call)(dialog);
}

static bool BrowserReady;  // selection notifications before WM_INITDIALOG are ignored
static UINT SelectionMessage;
static char* BrowserPath;

static void centre_on_parent(HWND dialog) {
  RECT own, parent;
  GetWindowRect(dialog, &own);
  HWND owner = GetParent(dialog);
  if (owner)
    GetWindowRect(owner, &parent);
  else
    parent = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  int x = parent.left + ((parent.right - parent.left) - (own.right - own.left)) / 2;
  int y = parent.top + ((parent.bottom - parent.top) - (own.bottom - own.top)) / 2;
  SetWindowPos(dialog, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static UINT_PTR CALLBACK folder_browser_hook(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    apply_dialog_font(dialog);
    SetDlgItemTextA(dialog, kPathField, BrowserPath);
    BrowserReady = true;
    SetWindowTextA(dialog, get_text(6, 1));
    set_item_text(dialog, kFolderLabel, 6, 2);
    set_item_text(dialog, kDriveLabel, 6, 3);
    set_item_text(dialog, IDOK, 7, 4);
    set_item_text(dialog, IDCANCEL, 7, 5);
    centre_on_parent(dialog);
    return TRUE;
  }
  if (message == SelectionMessage && BrowserReady) {
    DWORD n = GetFullPathNameA(".", kPathSize, BrowserPath, nullptr);
    // The file calls answer in the ANSI code page, as the field shows it:
    // no conversion, or a name with letters beyond ASCII names another folder.
    if (n == 0 || n >= kPathSize) return FALSE;
    SetDlgItemTextA(dialog, kPathField, BrowserPath);
  } else if (message == WM_COMMAND && LOWORD(wparam) == IDOK) {
    SendDlgItemMessageA(dialog, kPathField, WM_GETTEXT, kPathSize, reinterpret_cast<LPARAM>(BrowserPath));
    // IDABORT with lParam 1 ends the dialog with result 1, whatever the
    // hidden file name field holds.
    if (BrowserPath[0]) PostMessageA(dialog, WM_COMMAND, IDABORT, 1);
  }
  return FALSE;
}

int browse_for_folder(HWND owner, char* path) {
  if (!SelectionMessage) SelectionMessage = RegisterWindowMessageA("commdlg_LBSelChangedNotify");
  char* file_name = nullptr;
  OPENFILENAMEA* dialog = nullptr;
  DLGTEMPLATE* copy = nullptr;
  int chosen = 0;
  if (alloc_zeroed(kPathSize, &BrowserPath) && alloc_zeroed(kPathSize, &file_name) &&
      alloc_zeroed(sizeof(OPENFILENAMEA), &dialog) && (copy = load_template(kBrowserTemplate)) != nullptr) {
    copy_string(BrowserPath, path, kPathSize);
    dialog->lStructSize = kDialogRecordSize;
    dialog->hwndOwner = owner;
    dialog->hInstance = reinterpret_cast<HINSTANCE>(copy);
    dialog->lpstrFilter = "*.*\0*.*\0";
    dialog->nFilterIndex = 1;
    dialog->lpstrFile = file_name;
    dialog->nMaxFile = kPathSize;
    dialog->lpstrInitialDir = BrowserPath;
    dialog->Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE;
    dialog->lpfnHook = folder_browser_hook;
    BrowserReady = false;
    chosen = save_file_name(dialog);
    if (chosen) copy_string(path, BrowserPath, kPathSize);
  }
  free_template(copy);
  free_block(&dialog);
  free_block(&file_name);
  free_block(&BrowserPath);
  return chosen;
}
