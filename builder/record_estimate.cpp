#include "builder/record_estimate.h"

#include "archive/file_entry.h"
#include "archive/format.h"
#include "record/uninstall_data.h"

namespace {

// A whole path: at most 259 bytes, a counted text's length before it.
constexpr uint64_t kWholePath = 2 + 259;
// A RemoveList or ShortcutList record of a whole path: folder and name
// counted apart (one backslash fewer), and the flags.
constexpr uint64_t kWholeRecord = 2 + 2 + 258 + 1;
// Folders above the installation folder that the setup may make: one for
// each backslash a path can hold.
constexpr uint64_t kMadeFolders = 4 + 130 * kWholePath;

uint64_t counted(const std::string& text) { return 2 + text.size(); }

// The RemoveList record of an item: inside the installation folder as
// ".\sub" and the name, elsewhere a whole path.
uint64_t remove_record(const ProjectItem& item) {
  if (item.folder_code != kFolderInstallDir) return kWholeRecord;
  std::string name = item.name;
  if (item.kind == kKindFolder) {
    while (!name.empty() && name.back() == '\\') name.pop_back();
    return counted(".\\" + name) + 2 + 1;
  }
  size_t slash = name.rfind('\\');
  std::string folder = slash == std::string::npos ? "." : ".\\" + name.substr(0, slash);
  return counted(folder) + counted(name.substr(slash == std::string::npos ? 0 : slash + 1)) + 1;
}

}  // namespace

uint64_t record_size_bound(const ProjectType& type) {
  uint64_t size = kBlockHeaderSize + 4;  // the RemoveList
  // The uninstaller's own item is never listed: it removes itself.
  uint64_t shortcuts = 0;
  for (const ProjectItem& item : type.items) {
    if (item.kind == kKindRemovable || item.kind == kKindFolder) size += remove_record(item);
    if (!item.desktop_name.empty()) size += kWholeRecord;
    if (item.menu_name.empty()) continue;
    for (size_t at = 0;; ++at) {
      ++shortcuts;
      at = item.menu_locations.find(';', at);
      if (at == std::string::npos) break;
    }
  }
  if (shortcuts) size += kBlockHeaderSize + 4 + shortcuts * kWholeRecord;
  const SetupTypeRecordFields& r = type.record;
  if (r.uninstall_name) size += kBlockHeaderSize + 4 + 2 + sizeof kUninstallKeyPrefix + r.uninstall_name->size();
  size += kBlockHeaderSize + kWholePath;  // the installation folder, when the uninstaller lies elsewhere
  // The settings, each as long as it can be; the remembered folder is two.
  uint64_t settings = 2 * (1 + 4 + 3 * kWholePath + 2);
  for (const RegistryEntryFields& e : type.registry_entries)
    settings += 1 + 4 + counted(e.key) + counted(e.value_name) + 2;
  for (const IniEntryFields& e : type.ini_entries) settings += 1 + kWholePath + counted(e.section) + counted(e.key) + 1;
  size += kBlockHeaderSize + 4 + settings;
  size += kBlockHeaderSize;  // the uninstaller's texts
  for (int i = 0; i < kUninstallerTextCount; ++i) {
    size_t n = kDetailUninstallerTexts + static_cast<size_t>(i);
    size += counted(n < type.details.size() ? type.details[n] : std::string());
  }
  size += kBlockHeaderSize + kMadeFolders;
  return size + kBlockHeaderSize;  // the end block
}

bool check_record_sizes(const Project& project, std::string* error) {
  if (project.uninstaller_name.empty()) return true;  // no uninstaller, no record
  for (size_t t = 0; t < project.types.size(); ++t) {
    uint64_t bound = record_size_bound(project.types[t]);
    if (bound <= kMaxRecordLength) continue;
    *error = project.path + ": type[" + std::to_string(t) + "]: its installation record could take " + std::to_string(bound) +
             " bytes, more than the " + std::to_string(kMaxRecordLength) +
             " that the uninstaller reads; it installs too many files, or names too long, for one uninstaller";
    return false;
  }
  return true;
}
