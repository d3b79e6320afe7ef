#include "uninstall/removal.h"

#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "uninstall/font_removal.h"
#include "uninstall/library_registration.h"
#include "uninstall/shared_count.h"

namespace {

const char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr uint32_t kLocalMachineRoot = 0x80000002;

bool same_text(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

bool has_backslash(const std::string& text) { return text.find('\\') != std::string::npos; }

// "C:", "C:\..." or "\\server\...": the only folders a setup records whole.
bool is_absolute_folder(const std::string& folder) {
  if (folder.size() >= 2 && folder[1] == ':' && std::isalpha(static_cast<unsigned char>(folder[0])))
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
         _strnicmp(path.c_str(), root.c_str(), root.size()) == 0;
}

bool ends_with_lnk(const std::string& name) {
  return name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".lnk") == 0;
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
    return folder.size() < MAX_PATH;
  }
  std::string path = join(folder, record.name);
  if (path.size() >= MAX_PATH) return false;
  plan->files.push_back({path, record.flags});
  return true;
}

bool plan_shortcut(const ShortcutRecord& record, const MenuFolders& menu, RemovalPlan* plan) {
  if (!is_absolute_folder(record.folder) || has_backslash(record.file) || !ends_with_lnk(record.file))
    return false;
  std::string path = join(record.folder, record.file);
  if (path.size() >= MAX_PATH) return false;
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
      _strnicmp(key.c_str(), kUninstallKeyPrefix, prefix) != 0 || has_backslash(key.substr(prefix)))
    return false;
  plan->has_uninstall_key = true;
  plan->uninstall_key = key;
  return true;
}

// Deletes a recorded file; a file already gone counts as removed. A name
// that is a folder is never deleted as a file.
bool delete_file(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  // The setup keeps installed read-only files read-only.
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (DeleteFileA(path.c_str())) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes);
  return false;
}

bool remove_file(const PlannedFile& file) {
  const char* path = file.path.c_str();
  // Another installation's count keeps a shared file; so does a count we
  // cannot read, since deleting a library in use elsewhere breaks that user.
  if ((file.flags & kRemoveShared) && release_shared_count(path) != SharedRelease::kLastUser) return true;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;
  if (file.flags & kRemoveSelfRegistering) unregister_library(path);
  if (file.flags & kRemoveFont) remove_font(path);
  return delete_file(file.path);
}

bool special_folder(int csidl, std::string* out) {
  LPITEMIDLIST list = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, csidl, &list) != S_OK || !list) return false;
  char path[MAX_PATH] = "";
  bool found = SHGetPathFromIDListA(list, path) && path[0] != '\0';
  IMalloc* shell_malloc = nullptr;
  if (SUCCEEDED(SHGetMalloc(&shell_malloc))) {
    shell_malloc->Free(list);
    shell_malloc->Release();
  }
  if (!found) return false;
  *out = path;
  if (out->size() > 3 && out->back() == '\\') out->pop_back();
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
    return a.size() != b.size() ? a.size() > b.size() : _stricmp(a.c_str(), b.c_str()) < 0;
  });
  folders.erase(std::unique(folders.begin(), folders.end(), same_text), folders.end());
  return true;
}

MenuFolders find_menu_folders() {
  MenuFolders menu;
  std::string path;
  for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
    if (special_folder(csidl, &path)) menu.programs.push_back(path);
  for (int csidl : {CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU})
    if (special_folder(csidl, &path)) menu.keep.push_back(path);
  return menu;
}

unsigned carry_out_removal(const RemovalPlan& plan) {
  unsigned left = 0;
  for (const PlannedFile& file : plan.files) left += !remove_file(file);
  for (const std::string& shortcut : plan.shortcuts) left += !delete_file(shortcut);
  // RemoveDirectoryA takes only empty folders, so whatever the user added
  // keeps its folder.
  for (const std::string& folder : plan.folders) RemoveDirectoryA(folder.c_str());
  if (plan.has_uninstall_key) {
    LONG r = RegDeleteKeyA(HKEY_LOCAL_MACHINE, plan.uninstall_key.c_str());
    left += r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND;
  }
  return left;
}
