// The installation's final step: the record, the shortcuts and the
// settings once every item is in, or the rollback of everything after a
// failure.
#include "archive/config.h"
#include "archive/data_area.h"
#include "archive/lzma_decoder.h"
#include "base/command_line.h"
#include "base/globals.h"
#include "base/native_mode.h"
#include "base/path_strings.h"
#include "base/platform.h"
#include "install/engine.h"
#include "install/engine_reports.h"
#include "install/path_entries.h"
#include "install/registrations.h"
#include "install/rollback.h"
#include "install/settings_lists.h"
#include "install/shortcuts.h"
#include "install/uninstall_record.h"

void finish_install() {
  close_data_file();
  // The record lists the search path entries that were added; a failure
  // from here on takes them out again.
  if (ErrorState == 0) add_path_entries();
  // Nothing after a record that could not be written whole is applied.
  if (ErrorState == 0 && (UninstallerPath[0] ? write_uninstall_data() : (make_menu_shortcuts(nullptr), true))) {
    strip_backslash(InstallDir);
    remember_install_dir();
    write_ini_entries();
    write_registry_entries();
    bool native = native_files(true);
    apply_string_patches();
    native_files(native);
    add_backslash(InstallDir, kPathSize);
    self_register_libraries();
  }
  forget_earlier_record();
  // A failure anywhere, in an item or in this step, takes back everything.
  if (ErrorState != 0) {
    forget_role_items();
    roll_back_changes();
  } else {
    keep_changes();
  }
  // Unattended nobody would end the page: it moves on in every mode.
  if (!single_page_mode() || Switches.mode != RunMode::kWizard) continue_at(kFinishPage);
  InstallRunning = false;
  InstallDone = true;
}
