// The destination page (folder, required and free space, creating the
// folder, the space check) and the ready page that follows it.

#include <cstring>

#include "archive/config.h"
#include "archive/file_entry.h"
#include "archive/format.h"
#include "archive/messages.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "install/folders.h"
#include "install/journal.h"
#include "ui/disk_space.h"
#include "ui/folder_browser.h"
#include "ui/main_windows.h"
#include "ui/page_setup.h"
#include "ui/pages.h"
#include "ui/sequencer.h"

enum : int {
  kFolderField = 1004,
  kBrowseButton = 1005,
  kRequiredSpace = 1016,
  kRequiredCaption = 1017,
  kFreeCaption = 1018,
  kFreeSpace = 1019,
  kSummaryText = 1001,
};
enum : uint32_t { kSpaceUnit = 32768 };

static void show_megabytes(HWND page, int control, uint32_t megabytes) {
  // Text 2/7 with the number in its first integer conversion.
  char number[12];
  format_decimal(number, sizeof number, megabytes, 1);
  char text[kMessageCapacity];
  format_text(text, sizeof text, get_text(2, 7), number, TextArgument::kNumber);
  SetDlgItemTextA(page, control, text);
}

static void show_free_space(HWND page) {
  uint32_t kilobytes = free_space_kb(InstallDir);
  if (kilobytes == kFreeSpaceUnknown) kilobytes = 0;
  show_megabytes(page, kFreeSpace, static_cast<uint32_t>((uint64_t{kilobytes} + 1023) / 1024));
}

// Every item counted in whole units of 32 KiB, shown in whole megabytes.
static uint32_t required_megabytes() {
  uint64_t sum = 0;
  const uint8_t* entry = CurrentFirstEntry;
  for (uint32_t i = 0; entry && i < CurrentFileCount; ++i, entry = next_entry(entry))
    sum += (uint64_t{get_u32(entry + kEntrySize)} + kSpaceUnit - 1) / kSpaceUnit * kSpaceUnit;
  return static_cast<uint32_t>((sum + 0xFFFFF) >> 20);
}

// The installation folder as the pages show it: without a trailing
// backslash. `out` holds kPathSize characters.
static void shown_install_folder(char* out) {
  copy_string(out, InstallDir, kPathSize);
  strip_backslash(out);
}

static void read_folder_field(HWND page) {
  SendDlgItemMessageA(page, kFolderField, WM_GETTEXT, kPathSize, reinterpret_cast<LPARAM>(InstallDir));
}


static void restore_page_texts(HWND page) {
  for (int i = 2; i <= 4; ++i) set_item_text(page, 999 + i, 2, i);
}

static void report_unwritable_file() {
  char report[kMessageCapacity];
  char file_error[kMessageCapacity];
  copy_string(report, get_text(6, 8), sizeof report);
  append_string(report, "\n\n", sizeof report);
  format_message(file_error, 9);
  append_string(report, file_error, sizeof report);
  message_box(report, kMbIconInformation);
}

// The journal's records (from, to) of the folders made for the folder
// settled last: they go when the user settles another.
static uint32_t MadeFrom, MadeTo;

int settle_install_folder() {
  strip_backslash(InstallDir);
  if (GetFullPathNameA(InstallDir, sizeof DestPath, DestPath, nullptr) != 0 && DestPath[0] &&
      std::strlen(DestPath) < kPathSize - 1)
    copy_string(InstallDir, DestPath, kPathSize);
  uint32_t made_from = journal_size();
  if (!SetCurrentDirectoryA(InstallDir)) {
    // Unattended, the question answers yes: the folder is made.
    if (!asked_yes(6)) return kFolderDeclined;
    // Without room for its backslash the folder is not made at all, nor the
    // folders above it.
    if (add_backslash(InstallDir, kPathSize)) create_folder_chain(InstallDir);
    strip_backslash(InstallDir);
    if (!SetCurrentDirectoryA(InstallDir)) {
      message_text(5, kMbIconInformation);
      return kNoFolder;
    }
  }
  remove_given_up_folders(MadeFrom, MadeTo, InstallDir);
  MadeFrom = made_from;
  MadeTo = journal_size();
  // No file fits below a folder that leaves no room for its backslash.
  if (!add_backslash(InstallDir, kPathSize)) {
    message_text(5, kMbIconInformation);
    return kNoFolder;
  }
  // Said only now: the questions about the folder come before the check.
  // (No page shows yet in an unattended run.)
  set_item_text(CurrentPageWindow, 1001, 6, 4);
  SetDlgItemTextA(CurrentPageWindow, 1002, "");
  SetDlgItemTextA(CurrentPageWindow, 1003, "");
  int result = space_check();
  // Unattended, too little space fails: nobody is there to take the risk.
  if (result == kNoSpace && Switches.mode == RunMode::kWizard &&
      asked_yes(11))
    result = kSpaceOk;
  if (result == kNotWritable) report_unwritable_file();
  return result;
}

static INT_PTR destination_next(HWND page) {
  read_folder_field(page);
  if (settle_install_folder() == kSpaceOk) return FALSE;  // the container moves on
  restore_page_texts(page);
  return command_handled_answer(page);
}

static INT_PTR destination_command(HWND page, WPARAM wparam) {
  int id = LOWORD(wparam);
  if (id == kBrowseButton) {
    read_folder_field(page);
    browse_for_folder(page, InstallDir);
    strip_backslash(InstallDir);
    SetDlgItemTextA(page, kFolderField, InstallDir);
    return FALSE;
  }
  if (single_page_mode()) return FALSE;
  switch (id) {
    case kFolderField:
      read_folder_field(page);
      show_free_space(page);
      return FALSE;
    case kPageBack:
      // The folder keeps its trailing backslash while other pages show.
      add_backslash(InstallDir, kPathSize);
      if (SetupTypeCount == 1)
        continue_at(*get_text(1, 1) ? kLicencePage : kWelcomePage);
      else
        continue_at(kSetupTypePage);
      return command_handled_answer(page);
    case IDOK:
      return destination_next(page);
  }
  return FALSE;
}

INT_PTR CALLBACK destination_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      page_setup(page, ButtonBack | ButtonNext | ButtonCancel);
      char shown[kPathSize];
      shown_install_folder(shown);
      SetDlgItemTextA(page, kFolderField, shown);
      set_item_text(page, kRequiredCaption, 2, 5);
      set_item_text(page, kFreeCaption, 2, 6);
      set_carried_text(GetDlgItem(page, kBrowseButton), 2, 9);
      set_carried_text(GetDlgItem(page, -1), 2, 8);  // the group box, the template's one unnumbered control
      show_megabytes(page, kRequiredSpace, required_megabytes());
      show_free_space(page);
      if (CurrentRecord && (CurrentRecord->flags & kTypeFolderEditable)) {
        SetFocus(GetDlgItem(page, kFolderField));
        return FALSE;
      }
      SendDlgItemMessageA(page, kFolderField, EM_SETREADONLY, TRUE, 0);
      EnableWindow(GetDlgItem(page, kBrowseButton), FALSE);
      return TRUE;
    }
    case WM_COMMAND:
      if (INT_PTR handled = destination_command(page, wparam)) return handled;
      break;
  }
  return control_colour_answer(page, message, wparam, lparam);
}

INT_PTR CALLBACK ready_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      page_setup(page, ButtonBack | ButtonNext | ButtonCancel);
      char folder[kPathSize];
      shown_install_folder(folder);
      char summary[kMessageCapacity];
      format_text(summary, sizeof summary, get_text(3, 2), folder);
      SetDlgItemTextA(page, kSummaryText, summary);
      set_button_caption(IDOK, 3);
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK && ReadOnlyFilesFound &&
          message_text(7, kMbYesNo | kMbIconQuestion) == kIdNo)
        return command_handled_answer(page);
      break;
  }
  return control_colour_answer(page, message, wparam, lparam);
}
