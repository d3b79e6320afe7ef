// The installation record and the removal plan made from it. Input: u8
// choice of installation folder, then the record as the setup appends it.
// Block ids are not picked here: whatever the parser learns to accept is
// walked the same way. Rules: an accepted record lies wholly inside the
// input and a refused one yields nothing; a plan's paths fit, a relative
// record stays under the installation folder, and folders go deepest
// first, each once, never through "..", never a drive root, a menu root or
// a kept menu folder.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "uninstall/removal_plan.h"

namespace {

const char* const kInstallDirs[] = {
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

bool text_inside(RecordText t, const uint8_t* data, size_t size) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(t.text);
  return t.length == 0 || (p >= data && p + t.length <= data + size);
}

bool equal_folded(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// A path of the plan fits; a folder's steps are plain ones, none empty,
// "." or "..", since its place in the tree is then not what its text says.
void check_path(const char* path, bool folder) {
  size_t n = strnlen(path, kPathSize);
  FUZZ_RULE(n > 0 && n < kPathSize);
  if (!folder) return;
  std::string p(path, n);
  size_t start = p.compare(0, 2, "\\\\") == 0 ? 2 : 0;
  for (size_t end; start <= p.size(); start = end + 1) {
    end = std::min(p.find('\\', start), p.size());
    std::string step = p.substr(start, end - start);
    FUZZ_RULE(!step.empty() && step != "." && step != "..");
  }
}

void check_plan(const RemovalPlan& plan, const UninstallData& data, const char* install_dir, const MenuFolders& menu) {
  char path[kPathSize];
  const uint8_t* cursor = data.remove_list;
  for (uint32_t i = 0; i < data.remove_count; ++i) {
    RemoveRecord record = next_remove_record(&cursor);
    if (!planned_file_path(plan, record, path)) {
      FUZZ_RULE(record.name.length == 0);  // only a folder item names no file
      continue;
    }
    check_path(path, false);
    // A relative record stays inside the installation folder.
    if (record.folder.length >= 1 && record.folder.text[0] == '.')
      FUZZ_RULE(std::strncmp(path, install_dir, std::strlen(install_dir)) == 0);
  }
  cursor = data.shortcut_list;
  for (uint32_t i = 0; i < data.shortcut_count; ++i) {
    planned_shortcut_path(next_shortcut_record(&cursor), path);
    check_path(path, false);
  }
  size_t previous = kPathSize;
  std::string last;
  for (uint32_t i = 0; i < plan.folder_count; ++i) {
    planned_folder_path(plan.folders[i], path);
    check_path(path, true);
    std::string folder(path);
    FUZZ_RULE(folder.size() <= previous && !equal_folded(folder, last.c_str()));
    FUZZ_RULE(!(folder.size() <= 3 && folder.size() >= 2 && folder[1] == ':'));  // a drive root
    for (unsigned m = 0; m < menu.program_count; ++m) FUZZ_RULE(!equal_folded(folder, menu.programs[m]));
    for (unsigned m = 0; m < menu.keep_count; ++m) FUZZ_RULE(!equal_folded(folder, menu.keep[m]));
    previous = folder.size();
    last = folder;
  }
  if (plan.has_uninstall_key) {
    // One key below the Uninstall key, never that key itself.
    const std::string prefix = "software\\microsoft\\windows\\currentversion\\uninstall\\";
    std::string key(plan.uninstall_key);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    FUZZ_RULE(key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0);
    FUZZ_RULE(key.find('\\', prefix.size()) == std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const MenuFolders menu = menu_folders();
  InputCursor in{data, size};
  const char* install_dir = kInstallDirs[in.u8() % (sizeof kInstallDirs / sizeof kInstallDirs[0])];
  UninstallData record;
  UninstallDataStatus status = parse_uninstall_data(in.next, in.left, &record);
  if (status != UninstallDataStatus::kOk) {
    FUZZ_RULE(!record.remove_list && !record.shortcut_list && !record.has_uninstall_key);
    FUZZ_RULE(record.remove_count == 0 && record.shortcut_count == 0);
    return 0;
  }
  const uint8_t* cursor = record.remove_list;
  for (uint32_t i = 0; i < record.remove_count; ++i) {
    RemoveRecord r = next_remove_record(&cursor);
    FUZZ_RULE(text_inside(r.folder, in.next, in.left) && text_inside(r.name, in.next, in.left));
    FUZZ_RULE(cursor <= in.next + in.left);
  }
  cursor = record.shortcut_list;
  for (uint32_t i = 0; i < record.shortcut_count; ++i) {
    ShortcutRecord r = next_shortcut_record(&cursor);
    FUZZ_RULE(text_inside(r.folder, in.next, in.left) && text_inside(r.file, in.next, in.left));
    FUZZ_RULE(cursor <= in.next + in.left);
  }
  if (record.has_uninstall_key) FUZZ_RULE(text_inside(record.uninstall_key, in.next, in.left));

  RemovalPlan plan;
  if (plan_removal(record, install_dir, menu, &plan)) {
    check_plan(plan, record, install_dir, menu);
  } else {
    FUZZ_RULE(plan.folders == nullptr && plan.folder_count == 0 && !plan.has_uninstall_key);
  }
  free_removal_plan(&plan);
  return 0;
}
