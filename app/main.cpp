// The setup program's entry.
#include <windows.h>

#include "app/finishing.h"
#include "app/interrupted_run.h"
#include "app/language.h"
#include "app/relaunch.h"
#include "app/scope_choice.h"
#include "app/unattended.h"
#include "archive/config.h"
#include "archive/loader.h"
#include "archive/platform.h"
#include "archive/stub_size.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/replace.h"
#include "base/setup_log.h"
#include "install/running_programs.h"
#include "ui/frame_window.h"
#include "ui/main_windows.h"
#include "ui/page_setup.h"
#include "ui/page_table.h"
#include "ui/placement.h"
#include "ui/templates.h"

// Another setup runs with its window shown: bring it, and its message box
// if any (its owner comes along), forward. This start of the user's may
// give another process the foreground; BringWindowToTop from here would
// not. False for a hidden one (very silent), which has nothing to show.
static bool brought_forward(HWND other) {
  if (!IsWindowVisible(other)) return false;
  if (IsIconic(other)) ShowWindow(other, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(other));
  return true;
}

static void read_windows_family() {
  static_assert(sizeof(OSVERSIONINFOA) == 148, "the size the Windows 95 family accepts");
  // Only the size goes in; the platform is read only when the call succeeded.
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof version;
  IsNtFamily = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

static bool own_path(char* out) {
  DWORD n = GetModuleFileNameA(nullptr, out, kPathSize);
  if (n > 0 && n < kPathSize) return true;
  out[0] = '\0';  // a cut path would name another file
  return false;
}

// The container in the archive's mode, the wizard inside it, and the
// container gone again; false when no container could be made.
static bool run_container() {
  bool full_screen = full_screen_mode();
  bool shown = false;
  DLGTEMPLATE* copy = load_template(full_screen ? 1 : 0);
  if (copy) ContainerDialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), copy, FrameWindow, container_dialog_proc, 0);
  if (ContainerDialog) {
    if (!full_screen) fit_frame_around(ContainerDialog);
    ShowWindow(FrameWindow, SW_SHOWNORMAL);
    UpdateWindow(FrameWindow);
    run_wizard(PageTable);
    DestroyWindow(ContainerDialog);
    ContainerDialog = nullptr;
    shown = true;
  }
  free_template(copy);
  return shown;
}

// A run that ends before the wizard: its exit code in the log (where there
// is one), everything released.
static int stop_early(int code) {
  log_start();
  log_number("end", code);
  close_log();
  free_archive();
  release_font_brush_and_ole();
  return code;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show) {
  own_path(SourcePath);
  parse_command_line(command_line);
  if (HWND other = FindWindowA(kFrameClassName, nullptr)) {
    bool shown = brought_forward(other);
    // A caller that waits for the exit code must not read success into it;
    // a user who sees nothing come forward must learn why nothing happens.
    if (unattended()) return kExitAnotherSetupRuns;
    if (shown) return 0;
    MessageBoxA(nullptr, "Another setup is running. Wait until it has finished, then start this setup again.",
                nullptr, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
    return kExitAnotherSetupRuns;
  }
  OleInitialize(nullptr);
  make_face_brush();
  StubSize = stamped_stub_size();
  read_windows_family();
  StartCommandLine = command_line;
  int refused = 0;
  if (Switches.log[0] && !open_log(Switches.log)) refused = kTextNoLogFile;
  else if (Switches.bad[0]) refused = kTextBadSwitch;
  if (refused) {
    // Said in the setup's language where its texts can be had.
    if (load_archive()) choose_language();
    return stop_early(refuse_command_line(refused, refused == kTextNoLogFile ? Switches.log : Switches.bad));
  }
  if (!IsRelaunchCopy) {
    // Unattended, nobody changes disks: the setup runs where it is.
    HANDLE copy;
    if (!unattended() && relaunch_from_removable_media(show, &copy)) {
      release_font_brush_and_ole();
      return wait_for_copy(copy);
    }
  } else if (own_path(DestPath)) {
    replace_at_restart(nullptr, DestPath);
  }
  // Without its window the setup can do nothing: a caller must not read
  // success into that.
  if (!register_frame_class(instance)) return stop_early(kExitNoWindow);
  if (!load_archive()) return stop_early(kExitNoArchive);
  if (int code = choose_language()) return stop_early(code);
  log_start();
  // Nothing is installed where the machine cannot take the setup's mode.
  if (ArchitectureRefused) return stop_early(refuse_platform());
  // Before the switches: /DIR stands over the folders the scope gives.
  int ended;
  if (settle_scope(command_line, &ended)) return stop_early(ended);
  // What a run ended by force left goes first: the installed version and
  // the folder's files are read as they were before it.
  if (int code = settle_interrupted_run()) return stop_early(code);
  if (int code = apply_switches()) return stop_early(code);
  // Over a newer version of the product nothing is done unless allowed.
  if (int code = settle_product_case()) return stop_early(code);
  // The silent window is a plain one.
  if (unattended()) SetupFlags &= ~1u;
  FrameWindow = create_frame_window(instance);
  if (!FrameWindow) return stop_early(kExitNoWindow);
  bool shown = true;
  if (unattended())
    run_unattended();
  else
    shown = run_container();
  take_back_unfinished_install();
  restart_closed_programs();
  int code = shown ? outcome_code() : kExitNoWindow;
  log_number("end", code);
  close_log();
  finish_setup();
  return code;
}
