// The installation record and the removal plan made from it. Input: u8
// choice of the uninstaller's folder, then the record as the setup appends
// it. Block ids are not picked here: whatever the parser learns to accept
// is walked the same way, earlier installations included. Rules: an
// accepted record lies wholly inside the input and a refused one yields
// nothing; a plan covers every installation of the record, its paths,
// keys and settings fit, a relative record stays under its installation
// folder, and folders go deepest first, each once, never through "..",
// never a drive root, a menu root or a kept menu folder.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "record/removal_plan.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const kUninstallerFolders[] = {
    "C:\\Program Files\\Demo",
    "C:",
    "\\\\server\\share\\Demo",
    // Just short enough for a path: one more step does not fit.
    "C:\\0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
    "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
    "012345678901234567890123456789012345678901234567",
};

MenuFolders menu_folders() {
  MenuFolders menu{};
  std::strcpy(menu.programs[0], "C:\\WINDOWS\\Start Menu\\Programs");
  std::strcpy(menu.programs[1], "C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
  menu.program_count = 2;
  std::strcpy(menu.keep[0], "C:\\WINDOWS\\Start Menu\\Programs\\StartUp");
  std::strcpy(menu.keep[1], "C:\\WINDOWS\\Start Menu");
  menu.keep_count = 2;
  return menu;
}

struct Input {
  const uint8_t* begin;
  const uint8_t* end;
  bool holds(const void* p, size_t n) const {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return n == 0 || (b >= begin && b <= end && n <= size_t(end - b));
  }
  bool holds(RecordText t) const { return holds(t.text, t.length); }
};

bool empty(const UninstallData& d) {
  return !d.remove_list && !d.shortcut_list && !d.setting_list && !d.earlier && !d.has_uninstall_key &&
         !d.has_install_folder && d.remove_count == 0 && d.shortcut_count == 0 && d.setting_count == 0 &&
         d.earlier_count == 0;
}

// Every record, text and earlier installation of an accepted record lies
// inside the input.
void check_record(const UninstallData& data, const Input& in) {
  const uint8_t* cursor = data.remove_list;
  for (uint32_t i = 0; i < data.remove_count; ++i) {
    RemoveRecord r = next_remove_record(&cursor);
    FUZZ_RULE(in.holds(r.folder) && in.holds(r.name) && in.holds(cursor, 0));
  }
  cursor = data.earlier_removals;
  for (uint32_t i = 0; i < data.earlier_removal_count; ++i) {
    EarlierRemoval r = next_earlier_removal(&cursor);
    FUZZ_RULE(in.holds(r.record.folder) && in.holds(r.record.name) && in.holds(cursor, 0) && r.uses != 0);
  }
  cursor = data.shortcut_list;
  for (uint32_t i = 0; i < data.shortcut_count; ++i) {
    ShortcutRecord r = next_shortcut_record(&cursor);
    FUZZ_RULE(in.holds(r.folder) && in.holds(r.file) && in.holds(cursor, 0));
  }
  cursor = data.setting_list;
  for (uint32_t i = 0; i < data.setting_count; ++i) {
    SettingRecord r = next_setting_record(&cursor);
    FUZZ_RULE(r.kind == kSettingRegistryValue || r.kind == kSettingIniEntry);
    FUZZ_RULE(in.holds(r.path) && in.holds(r.section) && in.holds(r.name) && in.holds(cursor, 0));
  }
  if (data.has_uninstall_key) FUZZ_RULE(in.holds(data.uninstall_key));
  if (data.has_install_folder) FUZZ_RULE(in.holds(data.install_folder));
  cursor = data.earlier;
  for (uint32_t i = 0; i < data.earlier_count; ++i) {
    UninstallData earlier = next_earlier_installation(&cursor);
    FUZZ_RULE(in.holds(cursor, 0) && !empty(earlier));
    check_record(earlier, in);
  }
}

bool equal_folded(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// A text of the plan fits its buffer; a folder's steps are plain ones,
// none empty, "." or "..", since its place in the tree is then not what
// its text says.
void check_text(const char* text, size_t capacity, bool folder) {
  size_t n = strnlen(text, capacity);
  FUZZ_RULE(n < capacity);
  if (!folder) return;
  std::string p(text, n);
  FUZZ_RULE(!p.empty());
  size_t start = p.compare(0, 2, "\\\\") == 0 ? 2 : 0;
  for (size_t end; start <= p.size(); start = end + 1) {
    end = std::min(p.find('\\', start), p.size());
    std::string step = p.substr(start, end - start);
    FUZZ_RULE(!step.empty() && step != "." && step != "..");
  }
}

void check_installation(const PlannedInstallation& installation) {
  const UninstallData& data = installation.data;
  const char* dir = installation.install_dir;
  check_text(dir, kPathSize, false);
  char path[kPathSize];
  const uint8_t* cursor = data.remove_list;
  for (uint32_t i = 0; i < data.remove_count; ++i) {
    RemoveRecord record = next_remove_record(&cursor);
    if (!planned_file_path(installation, record, path)) {
      FUZZ_RULE(record.name.length == 0);  // only a folder item names no file
      continue;
    }
    check_text(path, kPathSize, false);
    if (record.folder.length >= 1 && record.folder.text[0] == '.')
      FUZZ_RULE(std::strncmp(path, dir, std::strlen(dir)) == 0);
  }
  cursor = data.shortcut_list;
  for (uint32_t i = 0; i < data.shortcut_count; ++i) {
    planned_shortcut_path(next_shortcut_record(&cursor), path);
    check_text(path, kPathSize, false);
  }
  cursor = data.setting_list;
  for (uint32_t i = 0; i < data.setting_count; ++i) {
    PlannedSetting setting;
    planned_setting(next_setting_record(&cursor), &setting);
    for (const char* text : {setting.path, setting.section, setting.name})
      check_text(text, kSettingTextCapacity, false);
  }
  char key[kUninstallKeyCapacity];
  uint32_t root = 0;
  if (planned_uninstall_key(installation, key, &root)) {
    FUZZ_RULE(root == 0x80000002u || root == 0x80000001u);
    // One key below the Uninstall key, never that key itself.
    const std::string prefix = "software\\microsoft\\windows\\currentversion\\uninstall\\";
    check_text(key, kUninstallKeyCapacity, false);
    std::string folded(key);
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    FUZZ_RULE(folded.size() > prefix.size() && folded.compare(0, prefix.size(), prefix) == 0);
    FUZZ_RULE(folded.find('\\', prefix.size()) == std::string::npos);
  }
}

void check_plan(const RemovalPlan& plan, const UninstallData& data, const MenuFolders& menu) {
  FUZZ_RULE(plan.installation_count == 1 + data.earlier_count);
  for (uint32_t i = 0; i < plan.installation_count; ++i) check_installation(plan.installations[i]);
  char path[kPathSize];
  size_t previous = kPathSize;
  std::string last;
  for (uint32_t i = 0; i < plan.folder_count; ++i) {
    planned_folder_path(plan.folders[i], path);
    check_text(path, kPathSize, true);
    std::string folder(path);
    FUZZ_RULE(folder.size() <= previous && !equal_folded(folder, last.c_str()));
    FUZZ_RULE(!(folder.size() <= 3 && folder.size() >= 2 && folder[1] == ':'));  // a drive root
    for (unsigned m = 0; m < menu.program_count; ++m) FUZZ_RULE(!equal_folded(folder, menu.programs[m]));
    for (unsigned m = 0; m < menu.keep_count; ++m) FUZZ_RULE(!equal_folded(folder, menu.keep[m]));
    previous = folder.size();
    last = folder;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const MenuFolders menu = menu_folders();
  InputCursor in{data, size};
  const char* folder = kUninstallerFolders[in.u8() % (sizeof kUninstallerFolders / sizeof kUninstallerFolders[0])];
  UninstallData record;
  UninstallDataStatus status = parse_uninstall_data(in.next, in.left, &record);
  if (status != UninstallDataStatus::kOk) {
    FUZZ_RULE(empty(record));
    return 0;
  }
  check_record(record, Input{in.next, in.next + in.left});
  RemovalPlan plan;
  if (plan_removal(record, folder, menu, &plan)) {
    check_plan(plan, record, menu);
  } else {
    FUZZ_RULE(!plan.installations && plan.installation_count == 0 && !plan.folders && plan.folder_count == 0);
  }
  free_removal_plan(&plan);
  return 0;
}
