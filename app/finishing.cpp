#include "app/finishing.h"

#include <windows.h>

#include <cstring>

#include "archive/config.h"
#include "archive/format.h"
#include "archive/loader.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/path_strings.h"
#include "base/restart.h"
#include "install/desktop_shell.h"
#include "install/destination.h"
#include "install/engine.h"
#include "install/journal.h"
#include "install/path_macros.h"
#include "ui/finish_page.h"
#include "ui/main_windows.h"
#include "ui/page_setup.h"
#include "ui/templates.h"

enum : int { kRestartTemplate = 8, kRestartAgreed = 1 };

static void install_screen_saver() {
  static const char kInstaller[] = "rundll32 desk.cpl,InstallScreenSaver ";
  item_destination(ScreenSaverItem);
  // Room for the whole of DestPath: a cut path would name another file.
  char command[sizeof kInstaller + sizeof DestPath];
  copy_string(command, kInstaller, sizeof command);
  copy_string(command + sizeof kInstaller - 1, DestPath, sizeof DestPath);
  WinExec(command, SW_SHOWNORMAL);
}

static void ask_for_restart() {
  DLGTEMPLATE* copy = load_template(kRestartTemplate);
  if (!copy) return;
  INT_PTR answer = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), copy, FrameWindow, restart_dialog_proc, 0);
  free_template(copy);
  if (answer == kRestartAgreed) restart_windows();
}

void drain_messages() {
  // Destroying the frame posts the quit message; without a frame nothing
  // would, and the loop below would wait for ever.
  if (FrameWindow)
    DestroyWindow(FrameWindow);
  else
    PostQuitMessage(0);
  FrameWindow = nullptr;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool run_program_item() {
  item_destination(ProgramItem);
  strip_backslash(InstallDir);
  SetCurrentDirectoryA(InstallDir);
  // Without a short form TempPath would still name the last temporary file.
  DWORD n = GetShortPathNameA(DestPath, TempPath, kPathSize);
  if (n == 0 || n >= kPathSize) {
    TempPath[0] = '\0';
    return false;
  }
  const char* arguments = product_detail(kDetailProgramArguments);
  // The path quoted, so that it stays one word before the arguments also
  // where the drive keeps no short names; arguments cut to fit would start
  // the program with others than the project's, so it is not started.
  enum : uint32_t { kCommandCapacity = 1024 };
  char command[kCommandCapacity];
  copy_string(command, "\"", sizeof command);
  append_string(command, TempPath, sizeof command);
  append_string(command, "\" ", sizeof command);
  uint32_t used = static_cast<uint32_t>(std::strlen(command));
  if (expand_macros(command + used, arguments, kCommandCapacity - used) >= kCommandCapacity - used) return false;
  // A setup with administrator rights starts it as the desktop's user,
  // through the shell, where the shell offers a way.
  if (runs_elevated() && start_through_shell(TempPath, command + used, InstallDir)) return true;
  return WinExec(*arguments ? command : TempPath, SW_SHOWNORMAL) > 31;
}

void release_font_brush_and_ole() {
  release_dialog_objects();
  OleUninitialize();
}

void take_back_unfinished_install() {
  if (InstallRunning || journal_count() > 0) abandon_install();
}

void finish_setup() {
  // Unattended, nothing is started for a user who is not there, and
  // Windows restarts without a question unless /NORESTART forbids it.
  bool attended = Switches.mode == RunMode::kWizard;
  if (attended && !HasStartPageBlock && ScreenSaverItem) install_screen_saver();
  // A setup with a start page never restarts Windows, so it does not ask:
  // a question whose yes is ignored would mislead the user.
  if (RestartNeeded && !HasStartPageBlock && !Switches.no_restart) {
    if (attended)
      ask_for_restart();
    else
      restart_windows();
  }
  drain_messages();
  if (attended && !HasStartPageBlock && !RestartNeeded && RunProgramOption && ProgramItem) run_program_item();
  free_archive();
  release_font_brush_and_ole();
}
