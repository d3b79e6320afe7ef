// The uninstaller's entry. The installed program only starts its working
// copy (working_copy.h) and waits for it; the copy does the work. Started
// by the user (through the Uninstall key) it asks first, removes, reports,
// offers a restart when files in use wait for it, and deletes the
// installed uninstaller. With "/SILENT" it does the same without a
// question or a box, and never restarts. Started by a setup with "/X" it
// removes without a word and leaves the installed uninstaller to that
// setup, which waits for it and deletes it. Either way the record is
// marked as carried out, so that a second run removes nothing twice.
// /LOG="path" logs what it does as the setup does. Its exit codes are the
// setup's: 0, 3010 (files go at the restart), 1602, 1603.
#include <windows.h>

#include <string.h>

#include "base/globals.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/replace.h"
#include "base/restart.h"
#include "base/setup_log.h"
#include "base/text_format.h"
#include "base/uninstall_turn.h"
#include "uninstall/ended_setup.h"
#include "uninstall/own_record.h"
#include "uninstall/removal.h"
#include "uninstall/removal_progress.h"
#include "uninstall/self_removal.h"
#include "uninstall/working_copy.h"

namespace {

// How a run ended, also the one-byte answer of the working copy (and
// kNoWorkingCopy); exit_code turns it into the exit code.
enum : int { kRemoved = 0, kNoRecord = 1, kItemsLeft = 2, kDeclined = 3, kRemovedAtRestart = 4 };
// A switch that cannot be used (a log that cannot be made): nothing done.
enum : int { kCommandLineRefused = 1639 };

// The exit codes of the setup: 0 done, 3010 done but Windows must restart
// to finish it, 1602 the user declined, 1603 not done, or not wholly.
int exit_code(int outcome) {
  switch (outcome) {
    case kRemoved: return 0;
    case kRemovedAtRestart: return 3010;
    case kDeclined: return 1602;
    default: return 1603;
  }
}

// The uninstaller's messages, by number: the first kUninstallerTextCount
// as the archive numbers them, which a project may give in the record.
// "%s" stands for the product's name.
enum : unsigned {
  kTextCaption = kUninstallerCaption,
  kTextQuestion = kUninstallerQuestion,
  kTextRemoved = kUninstallerRemoved,
  kTextRemovedLeft = kUninstallerRemovedLeft,
  kTextRemovedRestart = kUninstallerRemovedRestart,
  kTextRemovedBefore = kUninstallerTextCount,
  kTextNoRecord,
  kTextDamaged,
  kTextNoWorkingCopy,
  kTextQuestionUnnamed,
  kTextUnnamedCaption,  // a language's only: the program's own are Caption and ProductName
  kTextUnnamedProduct,
};
const char* const kTexts[] = {
    "Uninstall %s",
    "Do you want to remove %s and all of its components?",
    "%s was removed from your computer.",
    "%s was removed, but some of its files could not be deleted. "
    "They may be in use; you can delete them yourself.",
    "%s was removed. Some of its files are in use and will be deleted when Windows restarts. "
    "Do you want to restart Windows now?",
    "This program has already been removed from your computer.",
    "No record of an installation was found in this uninstaller. Nothing was removed.",
    "The record of the installation is damaged. Nothing was removed.",
    "The uninstaller cannot make its working copy in the temporary folder. Nothing was removed.",
    "Do you want to remove this program and all of its components?",
};
// Until a record names the product: the caption, and the name the texts
// give it.
const char* Caption = "Uninstall";
const char* ProductName = "The program";
bool ProductNamed;
char NamedCaption[kMessageCapacity];
char NamedProduct[kMessageCapacity];
const RecordText* GivenTexts;  // the project's texts from the record, or null
const RecordText* LanguageTexts;  // the installed language's, kUninstallerAllTextCount, or null

bool Quiet;  // no box: /X or /SILENT

// A counted text of the record, terminated.
void copy_counted(char* out, size_t capacity, RecordText text) {
  size_t n = text.length < capacity ? text.length : capacity - 1;
  memcpy(out, text.text, n);
  out[n] = '\0';
}

// Text n into out, its "%s" the product's name.
void compose(char* out, size_t capacity, unsigned n) {
  char given[kMessageCapacity];
  // Without a name the question keeps its own words: the name stands mid-sentence.
  if (n == kTextQuestion && !ProductNamed) n = kTextQuestionUnnamed;
  const char* text = kTexts[n];
  // The installed language's texts, else the project's, else its own.
  RecordText chosen = LanguageTexts ? LanguageTexts[n] : GivenTexts && n < kUninstallerTextCount ? GivenTexts[n]
                                                                                                 : RecordText{};
  if (chosen.length) {
    copy_counted(given, sizeof given, chosen);
    text = given;
  }
  format_text(out, capacity, text, ProductName);
}

// The record's Uninstall key names the product: its last part is the name
// that Add/Remove Programs shows.
void name_product(const UninstallData& data) {
  GivenTexts = data.texts;
  if (data.has_language) {
    LanguageTexts = data.language_texts;
    copy_counted(NamedProduct, sizeof NamedProduct, LanguageTexts[kTextUnnamedProduct]);
    copy_counted(NamedCaption, sizeof NamedCaption, LanguageTexts[kTextUnnamedCaption]);
    if (NamedProduct[0]) ProductName = NamedProduct;
    if (NamedCaption[0]) Caption = NamedCaption;
  }
  if (data.has_uninstall_key) {
    RecordText key = data.uninstall_key;
    uint16_t start = key.length;
    while (start > 0 && key.text[start - 1] != '\\') --start;
    copy_counted(NamedProduct, sizeof NamedProduct, {key.text + start, static_cast<uint16_t>(key.length - start)});
    ProductName = NamedProduct;
    ProductNamed = true;
  }
  if (ProductNamed || (!LanguageTexts && GivenTexts[kTextCaption].length)) {
    compose(NamedCaption, sizeof NamedCaption, kTextCaption);
    Caption = NamedCaption;
  }
}

// Shows a message (none when quiet, which answers 0) and logs it.
int say_text(const char* text, UINT style) {
  log_event("message", text);
  if (Quiet) return 0;
  return MessageBoxA(nullptr, text, Caption, style | MB_SETFOREGROUND);
}

int say(unsigned n, UINT style) {
  char text[kMessageCapacity];
  compose(text, sizeof text, n);
  return say_text(text, style);
}

bool within_folder(const char* path, const char* folder) {
  size_t n = strlen(folder);
  return strlen(path) >= n && same_folded(path, folder, n) && (path[n] == '\0' || path[n] == '\\');
}

// Whether the plan removes the folder when empty; above an installation
// folder it holds only those that the setup made.
bool planned_folder(const char* path, const RemovalPlan& plan) {
  char folder[kPathSize];
  for (uint32_t i = 0; i < plan.folder_count; ++i) {
    planned_folder_path(plan.folders[i], folder);
    if (lstrcmpiA(path, folder) == 0) return true;
  }
  return false;
}

// The installed uninstaller's folder and those above it that belong to an
// installation, or that the setup made above it, while they are left
// empty; on the NT family a folder that still holds a file waiting for the
// next start goes then.
void remove_uninstaller_folders(const char* folder, const RemovalPlan& plan, bool scheduled) {
  char path[MAX_PATH];
  copy_string(path, folder, sizeof path);
  bool above = false;  // above every installation folder on the way
  for (;;) {
    bool inside = false, top = false;
    for (uint32_t i = 0; i < plan.installation_count; ++i) {
      const char* install_dir = plan.installations[i].install_dir;
      inside = inside || within_folder(path, install_dir);
      top = top || lstrcmpiA(path, install_dir) == 0;
    }
    if (inside && above) return;
    if (!inside && !(above && planned_folder(path, plan))) return;
    if (!RemoveDirectoryA(path)) {
      if (scheduled) schedule_folder_removal(path);
      else return;
    }
    char* slash = strrchr(path, '\\');
    if (!slash) return;
    above = above || top;
    *slash = '\0';
  }
}

// The installed uninstaller and, for a signed one, its side file.
void delete_installed_files(const char* installed, const OwnRecord& record, RemovalOutcome* outcome) {
  delete_or_schedule(installed, outcome);
  if (record.side) delete_or_schedule(record.side_path, outcome);
}

// What the copy does once the installed program has ended: the record
// is marked as carried out, and a user's uninstall takes the installed
// uninstaller and its folders away as well.
void finish_with_installed_file(const UninstallerArguments& arguments, const char* own_path, const char* folder,
                                const OwnRecord& record, const RemovalPlan& plan, RemovalOutcome* outcome) {
  // A file that is no longer the one this copy was made from (a setup has
  // put another there) is not ours to mark or delete.
  if (!mark_record_used(arguments.original, own_path, record)) return;
  // Once marked, a run ended from here on removes nothing again.
  end_removal_progress(arguments.original);
  if (arguments.by_setup) return;
  delete_installed_files(arguments.original, record, outcome);
  remove_uninstaller_folders(folder, plan, outcome->at_restart != 0);
}

void report(const RemovalOutcome& outcome) {
  if (outcome.left) {
    say(kTextRemovedLeft, MB_OK | MB_ICONINFORMATION);
  } else if (outcome.at_restart) {
    if (say(kTextRemovedRestart, MB_YESNO | MB_ICONQUESTION) == IDYES) restart_windows();
  } else {
    say(kTextRemoved, MB_OK | MB_ICONINFORMATION);
  }
}

int remove_installation(const UninstallerArguments& arguments, const char* own_path) {
  // Held until the record is marked, so that no second run copies it
  // unmarked and no setup takes it over; without it nothing is removed.
  HANDLE turn = wait_for_turn(arguments.original);
  char folder[MAX_PATH];
  copy_string(folder, arguments.original, sizeof folder);
  char* slash = strrchr(folder, '\\');
  if (slash) *slash = '\0';
  OwnRecord record = OwnRecord();
  UninstallDataStatus status =
      slash ? read_own_record(own_path, arguments.original, &record) : UninstallDataStatus::kMissing;
  MenuFolders menu;
  find_menu_folders(&menu);
  RemovalPlan plan = RemovalPlan();
  if (status == UninstallDataStatus::kOk && !plan_removal(record.data, folder, menu, &plan))
    status = UninstallDataStatus::kDamaged;
  if (status == UninstallDataStatus::kOk) name_product(record.data);
  // An installation of the 64-bit mode is removed from where it went.
  if (status == UninstallDataStatus::kOk && record.data.architecture != kArchitectureX86) enter_native_mode();

  RemovalOutcome outcome = RemovalOutcome();
  int code = kRemoved;
  if (!turn) {
    code = kNoWorkingCopy;
    answer_installed_program(arguments, code);
  } else if (status == UninstallDataStatus::kUsed) {
    // Carried out before: there is nothing left to remove but this file.
    say(kTextRemovedBefore, MB_OK | MB_ICONINFORMATION);
    answer_installed_program(arguments, kRemoved);
    // A run ended after the mark left its progress.
    end_removal_progress(arguments.original);
    if (!arguments.by_setup) {
      delete_installed_files(arguments.original, record, &outcome);
      RemoveDirectoryA(folder);
    }
  } else if (status != UninstallDataStatus::kOk) {
    say(status == UninstallDataStatus::kMissing ? kTextNoRecord : kTextDamaged, MB_OK | MB_ICONSTOP);
    code = kNoRecord;
    answer_installed_program(arguments, code);
  } else if (!Quiet && say(kTextQuestion, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    code = kDeclined;
    answer_installed_program(arguments, code);
  } else {
    // A setup of the product ended by force is settled first: its backups
    // would otherwise come back over the removed product at the next setup.
    settle_ended_setups(plan, arguments.original);
    begin_removal_progress(arguments.original);
    outcome = carry_out_removal(plan);
    code = outcome.left ? kItemsLeft : outcome.at_restart ? kRemovedAtRestart : kRemoved;
    answer_installed_program(arguments, code);
    finish_with_installed_file(arguments, own_path, folder, record, plan, &outcome);
    // The record is marked: whoever waits need not wait for the user.
    release_turn(turn);
    turn = nullptr;
    report(outcome);
  }
  release_turn(turn);
  free_removal_plan(&plan);
  free_own_record(&record);
  // Without its batch the working copy goes at the next start at least.
  if (!remove_after_exit(own_path)) replace_at_restart(nullptr, own_path);
  return code;
}

// The end of a run in the log, and its exit code.
int end_run(int outcome) {
  int code = exit_code(outcome);
  log_number("end", code);
  close_log();
  return code;
}

// The installed program's part: the log begins, the working copy does the
// work and adds to it.
int run_installed(const UninstallerArguments& arguments, const char* own_path, const char* command_line) {
  if (arguments.log[0]) {
    // A log that cannot be made is refused before anything is removed.
    if (!open_log(arguments.log)) {
      char text[MAX_PATH + 64];
      copy_string(text, "The log file cannot be created: ", sizeof text);
      append_string(text, arguments.log, sizeof text);
      say_text(text, MB_OK | MB_ICONSTOP);
      return kCommandLineRefused;
    }
    log_event("start", own_path, command_line);
    close_log();
  }
  int outcome = run_working_copy(own_path, arguments);
  if (outcome != kNoWorkingCopy) return exit_code(outcome);
  if (arguments.log[0]) open_log_to_append(arguments.log);
  say(kTextNoWorkingCopy, MB_OK | MB_ICONSTOP);
  return end_run(outcome);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  IsNtFamily = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  UninstallerArguments arguments;
  read_arguments(command_line, &arguments);
  if (arguments.working_copy) tell_installed_program_begun(arguments);
  Quiet = arguments.by_setup || arguments.silent;
  char own_path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, own_path, sizeof own_path);
  if (n == 0 || n >= sizeof own_path) return exit_code(kNoRecord);
  if (!arguments.working_copy) return run_installed(arguments, own_path, command_line);
  if (arguments.log[0]) open_log_to_append(arguments.log);
  return end_run(remove_installation(arguments, own_path));
}
