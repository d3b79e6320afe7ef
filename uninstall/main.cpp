// The uninstaller's entry. Started by the user (through the Uninstall key)
// it asks first, removes, reports and has its own file removed after it has
// ended. Started by a setup with "/X" it removes without a word and leaves
// its own file to that setup, which waits for it and deletes it.
#include <windows.h>

#include <string.h>

#include "uninstall/own_record.h"
#include "uninstall/removal.h"
#include "uninstall/self_removal.h"

namespace {

// Exit codes.
enum : int { kRemoved = 0, kNoRecord = 1, kItemsLeft = 2, kDeclined = 3 };

const char kCaption[] = "Uninstall";

bool has_switch(const char* command_line, const char* name) {
  size_t n = strlen(name);
  for (const char* p = command_line; *p;) {
    while (*p == ' ' || *p == '\t') ++p;
    const char* start = p;
    while (*p && *p != ' ' && *p != '\t') ++p;
    if (static_cast<size_t>(p - start) == n && _strnicmp(start, name, n) == 0) return true;
  }
  return false;
}

int say(const char* text, UINT style) { return MessageBoxA(nullptr, text, kCaption, style | MB_SETFOREGROUND); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  bool quiet = has_switch(command_line ? command_line : "", "/X");
  char own_path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, own_path, sizeof own_path);
  const char* slash = n != 0 && n < sizeof own_path ? strrchr(own_path, '\\') : nullptr;
  OwnRecord record = OwnRecord();
  UninstallDataStatus status = slash ? read_own_record(own_path, &record) : UninstallDataStatus::kMissing;
  char install_dir[MAX_PATH] = "";
  if (slash) lstrcpynA(install_dir, own_path, static_cast<int>(slash - own_path) + 1);
  MenuFolders menu;
  find_menu_folders(&menu);
  RemovalPlan plan = RemovalPlan();
  if (status == UninstallDataStatus::kOk && !plan_removal(record.data, install_dir, menu, &plan))
    status = UninstallDataStatus::kDamaged;
  if (status != UninstallDataStatus::kOk) {
    if (!quiet)
      say(status == UninstallDataStatus::kMissing
              ? "No record of an installation was found in this uninstaller. Nothing was removed."
              : "The record of the installation is damaged. Nothing was removed.",
          MB_OK | MB_ICONSTOP);
    free_own_record(&record);
    return kNoRecord;
  }
  if (!quiet && say("Do you want to remove this program and all of its components?",
                    MB_YESNO | MB_ICONQUESTION) != IDYES) {
    free_removal_plan(&plan);
    free_own_record(&record);
    return kDeclined;
  }

  unsigned left = carry_out_removal(plan);
  free_removal_plan(&plan);
  free_own_record(&record);
  if (quiet) return left ? kItemsLeft : kRemoved;
  say(left ? "The program was removed, but some of its files could not be deleted. "
             "They may be in use; you can delete them yourself."
           : "The program was removed from your computer.",
      MB_OK | MB_ICONINFORMATION);
  // Files the user added keep the installation folder; only an empty one goes.
  remove_after_exit(own_path, install_dir);
  return left ? kItemsLeft : kRemoved;
}
