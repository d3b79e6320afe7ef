#include "uninstall/removal_plan.h"

#include <algorithm>

#include "app/globals.h"

namespace {

const char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr uint32_t kLocalMachineRoot = 0x80000002;

// Windows compares paths and key names ignoring case.
char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_prefix(const std::string& text, size_t at, const char* prefix, size_t n) {
  if (text.size() < at + n) return false;
  for (size_t i = 0; i < n; ++i)
    if (fold(text[at + i]) != fold(prefix[i])) return false;
  return true;
}

bool same_text(const std::string& a, const std::string& b) {
  return a.size() == b.size() && same_prefix(a, 0, b.c_str(), b.size());
}

bool folded_less(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return fold(x) < fold(y); });
}

bool has_backslash(const std::string& text) { return text.find('\\') != std::string::npos; }

// "C:", "C:\..." or "\\server\...": the only folders a setup records whole.
bool is_absolute_folder(const std::string& folder) {
  if (folder.size() >= 2 && folder[1] == ':' && fold(folder[0]) >= 'a' && fold(folder[0]) <= 'z')
    return folder.size() == 2 || folder[2] == '\\';
  return folder.size() > 2 && folder[0] == '\\' && folder[1] == '\\';
}

// Folders reached through ".." or empty steps are not removed: their place
// in the tree is not the one their text suggests.
bool is_plain_folder_path(const std::string& path) {
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string step = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (step.empty() || step == "." || step == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string join(const std::string& folder, const std::string& name) {
  return folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// True when path lies strictly inside root.
bool is_inside(const std::string& path, const std::string& root) {
  return path.size() > root.size() + 1 && path[root.size()] == '\\' &&
         same_prefix(path, 0, root.c_str(), root.size());
}

bool ends_with_lnk(const std::string& name) {
  return name.size() > 4 && same_prefix(name, name.size() - 4, ".lnk", 4);
}

// sub ("a\b") and each folder above it, up to the installation folder.
void add_installed_folders(const std::string& install_dir, std::string sub, RemovalPlan* plan) {
  if (!is_plain_folder_path(sub)) return;
  for (;;) {
    plan->folders.push_back(install_dir + "\\" + sub);
    size_t slash = sub.rfind('\\');
    if (slash == std::string::npos) return;
    sub.erase(slash);
  }
}

// The shortcut's folder and those above it, below the Programs menu; the
// menu folders themselves and Startup stay.
void add_menu_folders(const std::string& folder, const MenuFolders& menu, RemovalPlan* plan) {
  for (const std::string& root : menu.programs) {
    if (!is_inside(folder, root) || !is_plain_folder_path(folder.substr(root.size() + 1))) continue;
    for (std::string f = folder; is_inside(f, root); f.erase(f.rfind('\\'))) {
      bool kept = false;
      for (const std::string& k : menu.keep) kept = kept || same_text(f, k);
      if (!kept) plan->folders.push_back(f);
    }
  }
}

bool plan_file(const RemoveRecord& record, const std::string& install_dir, RemovalPlan* plan) {
  if (has_backslash(record.name)) return false;
  std::string folder;
  bool relative = record.folder == "." || record.folder.compare(0, 2, ".\\") == 0;
  if (record.folder == ".") {
    folder = install_dir;
  } else if (relative) {
    if (record.folder.size() == 2) return false;
    folder = install_dir + record.folder.substr(1);
    add_installed_folders(install_dir, record.folder.substr(2), plan);
  } else if (is_absolute_folder(record.folder)) {
    folder = record.folder;
  } else {
    return false;
  }
  if (record.name.empty()) {
    // A folder item: the setup made the folder; it carries no file flags.
    if (record.flags != 0) return false;
    // Never a drive root, nor a folder on another machine.
    if (!relative && folder.size() > 3 && folder[1] == ':' && is_plain_folder_path(folder.substr(3)))
      plan->folders.push_back(folder);
    return folder.size() < kPathSize;
  }
  std::string path = join(folder, record.name);
  if (path.size() >= kPathSize) return false;
  plan->files.push_back({path, record.flags});
  return true;
}

bool plan_shortcut(const ShortcutRecord& record, const MenuFolders& menu, RemovalPlan* plan) {
  if (!is_absolute_folder(record.folder) || has_backslash(record.file) || !ends_with_lnk(record.file))
    return false;
  std::string path = join(record.folder, record.file);
  if (path.size() >= kPathSize) return false;
  plan->shortcuts.push_back(path);
  add_menu_folders(record.folder, menu, plan);
  return true;
}

bool plan_key(const UninstallData& data, RemovalPlan* plan) {
  if (!data.has_uninstall_key) return true;
  size_t prefix = sizeof kUninstallKeyPrefix - 1;
  const std::string& key = data.uninstall_key;
  // Only the one key the setup made for this installation, never its
  // parent or anything beside it.
  if (data.uninstall_root != kLocalMachineRoot || key.size() <= prefix ||
      !same_prefix(key, 0, kUninstallKeyPrefix, prefix) || has_backslash(key.substr(prefix)))
    return false;
  plan->has_uninstall_key = true;
  plan->uninstall_key = key;
  return true;
}

}  // namespace

bool plan_removal(const UninstallData& data, const std::string& install_dir, const MenuFolders& menu,
                  RemovalPlan* plan) {
  *plan = RemovalPlan();
  bool sound = !install_dir.empty();
  for (const RemoveRecord& record : data.remove_list) sound = sound && plan_file(record, install_dir, plan);
  for (const ShortcutRecord& record : data.shortcut_list) sound = sound && plan_shortcut(record, menu, plan);
  sound = sound && plan_key(data, plan);
  if (!sound) {
    *plan = RemovalPlan();
    return false;
  }
  // Deepest first, so a folder whose only content was an emptied subfolder
  // goes as well.
  std::vector<std::string>& folders = plan->folders;
  std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : folded_less(a, b);
  });
  folders.erase(std::unique(folders.begin(), folders.end(), same_text), folders.end());
  return true;
}

