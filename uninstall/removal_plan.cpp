#include "uninstall/removal_plan.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr uint32_t kLocalMachineRoot = 0x80000002;

// Windows compares paths and key names ignoring case.
char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_folded(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

bool has_backslash(const char* text, size_t n) { return memchr(text, '\\', n) != nullptr; }

// "C:", "C:\..." or "\\server\...": the only folders a setup records whole.
bool is_absolute_folder(const char* folder, size_t n) {
  if (n >= 2 && folder[1] == ':' && fold(folder[0]) >= 'a' && fold(folder[0]) <= 'z')
    return n == 2 || folder[2] == '\\';
  return n > 2 && folder[0] == '\\' && folder[1] == '\\';
}

// Folders reached through ".." or empty steps are not removed: their place
// in the tree is not the one their text suggests.
bool is_plain_folder_path(const char* path, size_t n) {
  for (size_t start = 0;;) {
    size_t end = start;
    while (end < n && path[end] != '\\') ++end;
    size_t step = end - start;
    if (step == 0 || (path[start] == '.' && (step == 1 || (step == 2 && path[start + 1] == '.')))) return false;
    if (end == n) return true;
    start = end + 1;
  }
}

// Where the last backslash before position n is; 0 when there is none.
size_t last_backslash(const char* text, size_t n) {
  while (n > 0 && text[n - 1] != '\\') --n;
  return n == 0 ? 0 : n - 1;
}

// A path built in a fixed buffer; fits turns false for good once a part
// does not fit.
struct PathText {
  char* text;
  size_t length;
  bool fits;
  void put(const char* part, size_t n) {
    if (!fits || length + n >= kPathSize) {
      fits = false;
      return;
    }
    memcpy(text + length, part, n);
    length += n;
    text[length] = '\0';
  }
  void put_name(const char* name, size_t n) {
    if (length == 0 || text[length - 1] != '\\') put("\\", 1);
    put(name, n);
  }
};

PathText start_path(char* buffer) {
  buffer[0] = '\0';
  return PathText{buffer, 0, true};
}

// The folders of a plan, counted first and then stored (out is null while
// counting).
struct FolderList {
  PlannedFolder* out;
  uint32_t count;
  void add(const char* base, const char* text, size_t length) {
    if (out) out[count] = PlannedFolder{base, text, static_cast<uint16_t>(length)};
    ++count;
  }
};

enum class FolderKind { kBad, kInstallDir, kBelowInstallDir, kAbsolute };

// The folder a RemoveList record names, into path.
FolderKind resolve_folder(RecordText folder, const char* install_dir, PathText* path) {
  if (folder.length == 1 && folder.text[0] == '.') {
    path->put(install_dir, strlen(install_dir));
    return FolderKind::kInstallDir;
  }
  if (folder.length >= 2 && folder.text[0] == '.' && folder.text[1] == '\\') {
    if (folder.length == 2) return FolderKind::kBad;
    path->put(install_dir, strlen(install_dir));
    path->put(folder.text + 1, folder.length - 1u);
    return FolderKind::kBelowInstallDir;
  }
  if (!is_absolute_folder(folder.text, folder.length)) return FolderKind::kBad;
  path->put(folder.text, folder.length);
  return FolderKind::kAbsolute;
}

// sub ("a\b") and each folder above it, up to the installation folder;
// sub starts right after the "\" that the folder text gives it.
void add_installed_folders(const char* install_dir, const char* sub, size_t n, FolderList* list) {
  if (!is_plain_folder_path(sub, n)) return;
  for (;;) {
    list->add(install_dir, sub - 1, n + 1);
    size_t slash = last_backslash(sub, n);
    if (slash == 0) return;
    n = slash;
  }
}

bool is_kept(const MenuFolders& menu, const char* folder, size_t n) {
  for (unsigned i = 0; i < menu.keep_count; ++i)
    if (strlen(menu.keep[i]) == n && same_folded(menu.keep[i], folder, n)) return true;
  return false;
}

// The shortcut's folder and those above it, below the Programs menu; the
// menu folders themselves and Startup stay.
void add_menu_folders(RecordText folder, const MenuFolders& menu, FolderList* list) {
  for (unsigned i = 0; i < menu.program_count; ++i) {
    const char* root = menu.programs[i];
    size_t r = strlen(root);
    if (folder.length <= r + 1 || folder.text[r] != '\\' || !same_folded(folder.text, root, r) ||
        !is_plain_folder_path(folder.text + r + 1, folder.length - r - 1))
      continue;
    for (size_t n = folder.length; n > r + 1; n = last_backslash(folder.text, n))
      if (!is_kept(menu, folder.text, n)) list->add("", folder.text, n);
  }
}

bool resolve_file(const RemoveRecord& record, const char* install_dir, PathText* path, FolderList* list) {
  if (has_backslash(record.name.text, record.name.length)) return false;
  FolderKind kind = resolve_folder(record.folder, install_dir, path);
  if (kind == FolderKind::kBad) return false;
  if (kind == FolderKind::kBelowInstallDir && list)
    add_installed_folders(install_dir, record.folder.text + 2, record.folder.length - 2u, list);
  if (record.name.length == 0) {
    // A folder item: the setup made the folder; it carries no file flags.
    if (record.flags != 0) return false;
    // Never a drive root, nor a folder on another machine.
    const RecordText& f = record.folder;
    if (kind == FolderKind::kAbsolute && list && f.length > 3 && f.text[1] == ':' &&
        is_plain_folder_path(f.text + 3, f.length - 3u))
      list->add("", f.text, f.length);
    return path->fits;
  }
  path->put_name(record.name.text, record.name.length);
  return path->fits;
}

bool resolve_shortcut(const ShortcutRecord& record, PathText* path) {
  const RecordText& file = record.file;
  if (!is_absolute_folder(record.folder.text, record.folder.length) || has_backslash(file.text, file.length) ||
      file.length <= 4 || !same_folded(file.text + file.length - 4, ".lnk", 4))
    return false;
  path->put(record.folder.text, record.folder.length);
  path->put_name(file.text, file.length);
  return path->fits;
}

bool plan_key(const UninstallData& data, RemovalPlan* plan) {
  if (!data.has_uninstall_key) return true;
  size_t prefix = sizeof kUninstallKeyPrefix - 1;
  const RecordText& key = data.uninstall_key;
  // Only the one key the setup made for this installation, never its
  // parent or anything beside it.
  if (data.uninstall_root != kLocalMachineRoot || key.length <= prefix || key.length >= kUninstallKeyCapacity ||
      !same_folded(key.text, kUninstallKeyPrefix, prefix) || has_backslash(key.text + prefix, key.length - prefix))
    return false;
  plan->has_uninstall_key = true;
  memcpy(plan->uninstall_key, key.text, key.length);
  plan->uninstall_key[key.length] = '\0';
  return true;
}

// Checks every record and lists the folders into list.
bool walk_record(const UninstallData& data, const char* install_dir, const MenuFolders& menu, FolderList* list) {
  char buffer[kPathSize];
  const uint8_t* cursor = data.remove_list;
  for (uint32_t i = 0; i < data.remove_count; ++i) {
    PathText path = start_path(buffer);
    if (!resolve_file(next_remove_record(&cursor), install_dir, &path, list)) return false;
  }
  cursor = data.shortcut_list;
  for (uint32_t i = 0; i < data.shortcut_count; ++i) {
    ShortcutRecord record = next_shortcut_record(&cursor);
    PathText path = start_path(buffer);
    if (!resolve_shortcut(record, &path)) return false;
    add_menu_folders(record.folder, menu, list);
  }
  return true;
}

// Deepest first, so a folder whose only content was an emptied subfolder
// goes as well; equal lengths in folded order, so that equal folders meet.
int compare_folders(const void* a, const void* b) {
  char first[kPathSize], second[kPathSize];
  planned_folder_path(*static_cast<const PlannedFolder*>(a), first);
  planned_folder_path(*static_cast<const PlannedFolder*>(b), second);
  size_t n = strlen(first), m = strlen(second);
  if (n != m) return n > m ? -1 : 1;
  for (size_t i = 0; i < n; ++i)
    if (fold(first[i]) != fold(second[i])) return fold(first[i]) < fold(second[i]) ? -1 : 1;
  return 0;
}

}  // namespace

bool plan_removal(const UninstallData& data, const char* install_dir, const MenuFolders& menu, RemovalPlan* plan) {
  *plan = RemovalPlan();
  FolderList list{nullptr, 0};
  if (install_dir[0] == '\0' || !walk_record(data, install_dir, menu, &list) || !plan_key(data, plan)) {
    *plan = RemovalPlan();
    return false;
  }
  if (list.count != 0) {
    list.out = static_cast<PlannedFolder*>(malloc(list.count * sizeof(PlannedFolder)));
    // Without room for its folders the plan cannot be carried out in order.
    if (!list.out) {
      *plan = RemovalPlan();
      return false;
    }
    list.count = 0;
    walk_record(data, install_dir, menu, &list);
    qsort(list.out, list.count, sizeof(PlannedFolder), compare_folders);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < list.count; ++i)
      if (kept == 0 || compare_folders(&list.out[kept - 1], &list.out[i]) != 0) list.out[kept++] = list.out[i];
    list.count = kept;
  }
  plan->data = data;
  plan->install_dir = install_dir;
  plan->folders = list.out;
  plan->folder_count = list.count;
  return true;
}

void free_removal_plan(RemovalPlan* plan) {
  free(plan->folders);
  *plan = RemovalPlan();
}

bool planned_file_path(const RemovalPlan& plan, const RemoveRecord& record, char* path) {
  PathText text = start_path(path);
  return resolve_file(record, plan.install_dir, &text, nullptr) && record.name.length != 0;
}

void planned_shortcut_path(const ShortcutRecord& record, char* path) {
  PathText text = start_path(path);
  resolve_shortcut(record, &text);
}

void planned_folder_path(const PlannedFolder& folder, char* path) {
  PathText text = start_path(path);
  text.put(folder.base, strlen(folder.base));
  text.put(folder.text, folder.length);
}
