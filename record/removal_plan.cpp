#include "record/removal_plan.h"

#include <stdlib.h>
#include <string.h>

#include "base/path_strings.h"

namespace {

// The registry's roots as a record stores them: the values of their HKEYs.
constexpr uint32_t kClassesRoot = 0x80000000, kCurrentUserRoot = 0x80000001, kLocalMachineRoot = 0x80000002,
                   kUsersRoot = 0x80000003;

bool has_backslash(const char* text, size_t n) { return memchr(text, '\\', n) != nullptr; }

// "C:", "C:\..." or "\\server\...": the only folders a setup records whole.
bool is_absolute_folder(const char* folder, size_t n) {
  if (n >= 2 && folder[1] == ':' && fold_letter(folder[0]) >= 'a' && fold_letter(folder[0]) <= 'z')
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

// Only the one key the setup made for this installation, never its parent
// or anything beside it: under HKEY_LOCAL_MACHINE, or under
// HKEY_CURRENT_USER for a product installed per user.
bool check_key(const UninstallData& data) {
  if (!data.has_uninstall_key) return true;
  size_t prefix = sizeof kUninstallKeyPrefix - 1;
  const RecordText& key = data.uninstall_key;
  bool root = data.uninstall_root == kLocalMachineRoot || data.uninstall_root == kCurrentUserRoot;
  return root && key.length > prefix && key.length < kUninstallKeyCapacity &&
         same_folded(key.text, kUninstallKeyPrefix, prefix) && !has_backslash(key.text + prefix, key.length - prefix);
}

// A whole path to a file or folder: "C:" or "\server\share", no
// empty steps, no "." or "..", with room for its terminator.
bool is_plain_absolute_path(const RecordText& path) {
  if (path.length >= kPathSize || !is_absolute_folder(path.text, path.length)) return false;
  size_t root = path.text[1] == ':' ? 3 : 2;
  return path.length > root && is_plain_folder_path(path.text + root, path.length - root);
}

bool fits_setting(const RecordText& text) { return text.length < kSettingTextCapacity; }

unsigned key_steps(const RecordText& key) {
  unsigned steps = 1;
  for (uint16_t i = 0; i < key.length; ++i) steps += key.text[i] == '\\';
  return steps;
}

// A registry value under one of the four roots, or an entry of an INI file
// named by its whole path.
bool check_setting(const SettingRecord& s) {
  if (s.kind == kSettingRegistryValue)
    return s.root >= kClassesRoot && s.root <= kUsersRoot && is_plain_registry_key(s.path.text, s.path.length) &&
           fits_setting(s.name) &&
           (s.flags & ~kSettingDeleteKeyIfEmpty) == 0 && s.created_keys <= key_steps(s.path);
  return is_plain_absolute_path(s.path) && s.section.length != 0 && fits_setting(s.section) && s.name.length != 0 &&
         fits_setting(s.name) && (s.flags & ~kSettingFileCreated) == 0;
}

// Checks every record of one installation and lists its folders into list.
bool walk_record(const PlannedInstallation& installation, const MenuFolders& menu, FolderList* list) {
  const UninstallData& data = installation.data;
  char buffer[kPathSize];
  const uint8_t* cursor = data.remove_list;
  for (uint32_t i = 0; i < data.remove_count; ++i) {
    PathText path = start_path(buffer);
    if (!resolve_file(next_remove_record(&cursor), installation.install_dir, &path, list)) return false;
  }
  cursor = data.earlier_removals;
  for (uint32_t i = 0; i < data.earlier_removal_count; ++i) {
    PathText path = start_path(buffer);
    if (!resolve_file(next_earlier_removal(&cursor).record, installation.install_dir, &path, list)) return false;
  }
  cursor = data.shortcut_list;
  for (uint32_t i = 0; i < data.shortcut_count; ++i) {
    ShortcutRecord record = next_shortcut_record(&cursor);
    PathText path = start_path(buffer);
    if (!resolve_shortcut(record, &path)) return false;
    add_menu_folders(record.folder, menu, list);
  }
  cursor = data.setting_list;
  for (uint32_t i = 0; i < data.setting_count; ++i)
    if (!check_setting(next_setting_record(&cursor))) return false;
  // Only folders above this installation's own folder, never a drive root
  // nor a folder on another machine:
  // anything else is not what the setup wrote, and stays.
  cursor = data.made_folders;
  size_t n = strlen(installation.install_dir);
  for (uint32_t i = 0; i < data.made_folder_count; ++i) {
    RecordText folder = next_made_folder(&cursor);
    if (is_plain_absolute_path(folder) && folder.text[1] == ':' && folder.length > 3 && folder.length < n &&
        same_folded(folder.text, installation.install_dir, folder.length) &&
        installation.install_dir[folder.length] == '\\')
      list->add("", folder.text, folder.length);
  }
  return check_key(data);
}

// What "." means for an installation: the folder its record names, else
// the uninstaller's own.
}  // namespace

bool installation_folder(const UninstallData& data, const char* uninstaller_folder, char* install_dir) {
  if (!data.has_install_folder) {
    size_t length = strlen(uninstaller_folder);
    if (length == 0 || length >= kPathSize) return false;
    memcpy(install_dir, uninstaller_folder, length + 1);
    return true;
  }
  const RecordText& folder = data.install_folder;
  if (!is_plain_absolute_path(folder)) return false;
  memcpy(install_dir, folder.text, folder.length);
  install_dir[folder.length] = '\0';
  return true;
}

namespace {

bool walk_plan(const RemovalPlan& plan, const MenuFolders& menu, FolderList* list) {
  for (uint32_t i = 0; i < plan.installation_count; ++i)
    if (!walk_record(plan.installations[i], menu, list)) return false;
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
    if (fold_letter(first[i]) != fold_letter(second[i])) return fold_letter(first[i]) < fold_letter(second[i]) ? -1 : 1;
  return 0;
}

}  // namespace

bool plan_removal(const UninstallData& data, const char* uninstaller_folder, const MenuFolders& menu,
                  RemovalPlan* plan) {
  *plan = RemovalPlan();
  uint32_t count = 1 + data.earlier_count;
  plan->installations = static_cast<PlannedInstallation*>(malloc(count * sizeof(PlannedInstallation)));
  if (!plan->installations) return false;
  plan->installation_count = count;
  plan->installations[0].data = data;
  const uint8_t* cursor = data.earlier;
  for (uint32_t i = 1; i < count; ++i) plan->installations[i].data = next_earlier_installation(&cursor);
  bool sound = true;
  for (uint32_t i = 0; i < count && sound; ++i)
    sound = installation_folder(plan->installations[i].data, uninstaller_folder, plan->installations[i].install_dir);
  FolderList list{nullptr, 0};
  if (!sound || !walk_plan(*plan, menu, &list)) {
    free_removal_plan(plan);
    return false;
  }
  if (list.count != 0) {
    list.out = static_cast<PlannedFolder*>(malloc(list.count * sizeof(PlannedFolder)));
    // Without room for its folders the plan cannot be carried out in order.
    if (!list.out) {
      free_removal_plan(plan);
      return false;
    }
    list.count = 0;
    walk_plan(*plan, menu, &list);
    qsort(list.out, list.count, sizeof(PlannedFolder), compare_folders);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < list.count; ++i)
      if (kept == 0 || compare_folders(&list.out[kept - 1], &list.out[i]) != 0) list.out[kept++] = list.out[i];
    list.count = kept;
  }
  plan->folders = list.out;
  plan->folder_count = list.count;
  return true;
}

bool record_plans(const UninstallData& data, const char* uninstaller_folder) {
  // The checks of plan_removal without its folder list: the folders are
  // only counted, and no start-menu folder is needed for the judgement.
  const MenuFolders no_menu = {};
  FolderList counted{nullptr, 0};
  PlannedInstallation installation;
  installation.data = data;
  const uint8_t* cursor = data.earlier;
  for (uint32_t i = 0; i <= data.earlier_count; ++i) {
    if (i > 0) installation.data = next_earlier_installation(&cursor);
    if (!installation_folder(installation.data, uninstaller_folder, installation.install_dir) ||
        !walk_record(installation, no_menu, &counted))
      return false;
  }
  return true;
}

bool is_plain_registry_key(const char* key, size_t length) {
  return length != 0 && length < kSettingTextCapacity && is_plain_folder_path(key, length);
}

bool is_plain_file_path(const char* path, size_t length) {
  return length < 0x10000 && is_plain_absolute_path(RecordText{path, static_cast<uint16_t>(length)});
}

void free_removal_plan(RemovalPlan* plan) {
  free(plan->installations);
  free(plan->folders);
  *plan = RemovalPlan();
}

bool recorded_path(const char* install_dir, const RemoveRecord& record, char* path) {
  PathText text = start_path(path);
  if (!resolve_file(record, install_dir, &text, nullptr)) return false;
  if (record.name.length == 0) text.put("\\", 1);
  return text.fits;
}

bool planned_file_path(const PlannedInstallation& installation, const RemoveRecord& record, char* path) {
  PathText text = start_path(path);
  return resolve_file(record, installation.install_dir, &text, nullptr) && record.name.length != 0;
}

void planned_shortcut_path(const ShortcutRecord& record, char* path) {
  PathText text = start_path(path);
  resolve_shortcut(record, &text);
}

bool planned_uninstall_key(const PlannedInstallation& installation, char* key, uint32_t* root) {
  const UninstallData& data = installation.data;
  if (!data.has_uninstall_key) return false;
  *root = data.uninstall_root;
  memcpy(key, data.uninstall_key.text, data.uninstall_key.length);
  key[data.uninstall_key.length] = '\0';
  return true;
}

void planned_setting(const SettingRecord& record, PlannedSetting* out) {
  *out = PlannedSetting();
  out->kind = record.kind;
  out->root = record.root;
  out->flags = record.flags;
  out->created_keys = record.created_keys;
  const RecordText* texts[] = {&record.path, &record.section, &record.name};
  char* buffers[] = {out->path, out->section, out->name};
  // A registry setting has no section: its text is null, and memcpy may
  // not be handed a null pointer even for no bytes.
  for (int i = 0; i < 3; ++i) {
    if (texts[i]->length) memcpy(buffers[i], texts[i]->text, texts[i]->length);
    buffers[i][texts[i]->length] = '\0';
  }
}

void planned_folder_path(const PlannedFolder& folder, char* path) {
  PathText text = start_path(path);
  text.put(folder.base, strlen(folder.base));
  text.put(folder.text, folder.length);
}
