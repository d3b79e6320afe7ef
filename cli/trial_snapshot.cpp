#include "cli/trial_snapshot.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "cli/cli_support.h"
#include "cli/windows_text.h"

namespace {

// Deeper than any real installation; a loop of folders ends here.
constexpr int kMaxDepth = 64;
// INI files and shortcuts larger than this are files, nothing more.
constexpr uint64_t kMaxParsedSize = 1 << 20;

const char kUninstallRoot[] = "software\\microsoft\\windows\\currentversion\\uninstall";

// Registry areas that Wine itself rewrites whenever it starts programs or
// restarts: its own settings, the hardware it enumerates, and the console
// defaults it fills in once a console program (the trial's runner) has
// started, at a moment that depends on the trial's timing.
const char* const kWineKeys[] = {
    "hkcu\\console",
    "hkcu\\software\\wine",
    "hklm\\software\\wine",
    "hklm\\hardware",
    "hklm\\system\\currentcontrolset\\control\\class",
    "hklm\\system\\currentcontrolset\\control\\deviceclasses",
    "hklm\\system\\currentcontrolset\\enum",
    "hklm\\system\\controlset001\\control\\class",
    "hklm\\system\\controlset001\\control\\deviceclasses",
    "hklm\\system\\controlset001\\enum",
};

// Wine registers the host's fonts by their host paths, under the Fonts keys
// of Windows, whenever a program first draws text; no setup writes those.
bool wine_host_font(const RegistryValue& value) {
  std::string text;
  return registry_string(value, &text) && text.compare(0, 9, "\\??\\unix\\") == 0;
}

bool within(const std::string& folded, const std::string& folded_root) {
  return folded.compare(0, folded_root.size(), folded_root) == 0 &&
         (folded.size() == folded_root.size() || folded[folded_root.size()] == '\\');
}

bool wine_key(const std::string& folded) {
  for (const char* key : kWineKeys)
    if (within(folded, key)) return true;
  return false;
}

std::string parent_of(const std::string& key) {
  size_t slash = key.rfind('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

// Whether a folded key is an Add/Remove entry: a key right below
// Software\Microsoft\Windows\CurrentVersion\Uninstall, under either root.
bool is_uninstall_entry(const std::string& folded) {
  size_t root = folded.find('\\');
  if (root == std::string::npos) return false;
  std::string parent = parent_of(folded);
  return parent.size() > root && parent.compare(root + 1, std::string::npos, kUninstallRoot) == 0;
}

bool in_uninstall_entry(const std::string& folded_key) {
  for (std::string k = folded_key; !k.empty(); k = parent_of(k))
    if (is_uninstall_entry(k)) return true;
  return false;
}

bool ends_with_folded(const std::string& name, const char* suffix) {
  std::string s = suffix;
  return name.size() >= s.size() && fold_case(name.substr(name.size() - s.size())) == s;
}

// Reading the prefix.

struct Walk {
  const PrefixSnapshot* reference;
  PrefixSnapshot* out;
};

// The content's checksum; files of interest are kept whole in *content.
uint32_t read_content(int fd, bool keep, std::vector<uint8_t>* content) {
  uint32_t crc = 0;
  uint8_t buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) {
    crc = libdeflate_crc32(crc, buffer, static_cast<size_t>(n));
    if (keep && content->size() + static_cast<size_t>(n) <= kMaxParsedSize)
      content->insert(content->end(), buffer, buffer + n);
  }
  return crc;
}

void add_file(Walk* walk, int folder, const char* name, const std::string& path, const struct stat& st) {
  FileFacts facts{'f', static_cast<uint64_t>(st.st_size),
                  static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, 0};
  bool ini = ends_with_folded(path, ".ini"), link = ends_with_folded(path, ".lnk");
  bool parse = (ini || link) && facts.size <= kMaxParsedSize;
  const FileFacts* known = nullptr;
  if (walk->reference) {
    auto it = walk->reference->files.find(path);
    if (it != walk->reference->files.end()) known = &it->second;
  }
  if (!ini && !link && known && known->kind == 'f' && known->size == facts.size &&
      known->modified_ns == facts.modified_ns) {
    facts.crc = known->crc;
  } else {
    std::vector<uint8_t> content;
    int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      facts.crc = read_content(fd, parse, &content);
      close(fd);
    }
    if (ini) {
      std::string folded_file = fold_case(path);
      for (const IniFileEntry& entry : parse_ini_text(content.data(), content.size()))
        walk->out->ini.emplace(folded_file + '\n' + fold_case(entry.section) + '\n' + fold_case(entry.key),
                               IniFacts{path, entry});
    }
    if (link) {
      ShortcutFacts shortcut;
      shortcut.readable = parse && parse_shell_link(content.data(), content.size(), &shortcut.link, &shortcut.why);
      if (!parse) shortcut.why = "larger than a shortcut can be";
      walk->out->shortcuts[path] = shortcut;
    }
  }
  walk->out->files[path] = facts;
}

void walk_folder(Walk* walk, int folder, const std::string& path, int depth) {
  DIR* dir = fdopendir(folder);
  if (!dir) {
    close(folder);
    return;
  }
  while (struct dirent* e = readdir(dir)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    std::string child = path + "\\" + e->d_name;
    struct stat st;
    if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      add_file(walk, dirfd(dir), e->d_name, child, st);
    } else if (S_ISDIR(st.st_mode)) {
      walk->out->files[child] = FileFacts{'d', 0, 0, 0};
      int sub = depth < kMaxDepth ? openat(dirfd(dir), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
      if (sub >= 0) walk_folder(walk, sub, child, depth + 1);
    } else {
      walk->out->files[child] = FileFacts{S_ISLNK(st.st_mode) ? 'l' : 'o', 0, 0, 0};
    }
  }
  closedir(dir);
}

// Comparing two pictures.

std::string size_text(uint64_t size) { return std::to_string(size) + (size == 1 ? " byte" : " bytes"); }

std::string kind_text(const FileFacts& f) {
  switch (f.kind) {
    case 'f': return size_text(f.size);
    case 'd': return "a folder";
    case 'l': return "a symbolic link";
    default: return "a special file";
  }
}

std::string value_name(const RegistryValue& v) { return v.name.empty() ? "(default)" : "\"" + v.name + "\""; }

std::string value_line(const RegistryValue& v) {
  return v.key + ": " + value_name(v) + " = " + describe_registry_value(v);
}

std::string shortcut_text(const std::string& path, const ShortcutFacts& s) {
  if (!s.readable) return path + " (not readable as a shortcut: " + s.why + ")";
  std::string text = path + " -> " + (s.link.target.empty() ? "(no target path)" : s.link.target);
  if (!s.link.arguments.empty()) text += ", arguments " + s.link.arguments;
  return text;
}

std::string ini_text(const IniFacts& i) {
  return i.file + " [" + i.entry.section + "] " + i.entry.key + (i.entry.has_value ? "=" + i.entry.value : "");
}

// Walks two maps with the same ordering in step: fn(before or null, after or null).
template <typename Map, typename Fn>
void merge(const Map& before, const Map& after, Fn fn) {
  auto b = before.begin(), a = after.begin();
  while (b != before.end() || a != after.end()) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      fn(b->first, &b->second, nullptr);
      ++b;
    } else if (b == before.end() || a->first < b->first) {
      fn(a->first, nullptr, &a->second);
      ++a;
    } else {
      fn(a->first, &b->second, &a->second);
      ++a;
      ++b;
    }
  }
}

void compare_files(const PrefixSnapshot& before, const PrefixSnapshot& after, std::vector<Change>* out) {
  merge(before.files, after.files, [&](const std::string& path, const FileFacts* b, const FileFacts* a) {
    if (ends_with_folded(path, ".lnk") && (!b || b->kind == 'f') && (!a || a->kind == 'f')) return;
    auto describe = [&](const FileFacts& f) {
      return f.kind == 'd' ? path + "\\ (folder)" : path + " (" + kind_text(f) + ")";
    };
    if (!b)
      out->push_back({ChangeGroup::kFiles, '+', describe(*a), {}});
    else if (!a)
      out->push_back({ChangeGroup::kFiles, '-', describe(*b), {}});
    else if (a->kind != b->kind)
      out->push_back({ChangeGroup::kFiles, '~', path + " (now " + kind_text(*a) + ", was " + kind_text(*b) + ")", {}});
    else if (a->kind == 'f' && a->size != b->size)
      out->push_back(
          {ChangeGroup::kFiles, '~', path + " (" + std::to_string(b->size) + " -> " + size_text(a->size) + ")", {}});
    else if (a->kind == 'f' && a->crc != b->crc)
      out->push_back({ChangeGroup::kFiles, '~', path + " (" + size_text(a->size) + ", new content)", {}});
  });
}

// Keys that hold neither values nor other keys: only there does a key by
// itself say something (an empty key left behind).
std::set<std::string> empty_keys(const PrefixSnapshot& s) {
  std::set<std::string> holding;
  for (const auto& k : s.keys) holding.insert(parent_of(k.first));
  for (const auto& v : s.values) holding.insert(v.first.substr(0, v.first.find('\n')));
  std::set<std::string> empty;
  for (const auto& k : s.keys)
    if (!holding.count(k.first)) empty.insert(k.first);
  return empty;
}

void compare_registry(const PrefixSnapshot& before, const PrefixSnapshot& after, std::vector<Change>* out) {
  std::vector<Change> changes;
  merge(before.values, after.values, [&](const std::string& id, const RegistryValue* b, const RegistryValue* a) {
    std::string key = id.substr(0, id.find('\n'));
    if (wine_key(key) || in_uninstall_entry(key) || wine_host_font(a ? *a : *b)) return;
    if (!b)
      changes.push_back({ChangeGroup::kRegistry, '+', value_line(*a), {}});
    else if (!a)
      changes.push_back({ChangeGroup::kRegistry, '-', value_line(*b), {}});
    else if (a->type != b->type || a->data != b->data)
      changes.push_back(
          {ChangeGroup::kRegistry, '~', value_line(*a) + " (was " + describe_registry_value(*b) + ")", {}});
  });
  std::set<std::string> empty_before = empty_keys(before), empty_after = empty_keys(after);
  merge(before.keys, after.keys, [&](const std::string& id, const std::string* b, const std::string* a) {
    if (wine_key(id) || in_uninstall_entry(id) || (a && b)) return;
    if (a && empty_after.count(id)) changes.push_back({ChangeGroup::kRegistry, '+', *a + " (empty key)", {}});
    if (b && empty_before.count(id)) changes.push_back({ChangeGroup::kRegistry, '-', *b + " (empty key)", {}});
  });
  std::stable_sort(changes.begin(), changes.end(),
                   [](const Change& x, const Change& y) { return fold_case(x.text) < fold_case(y.text); });
  out->insert(out->end(), changes.begin(), changes.end());
}

// The values of one key, by folded name.
std::map<std::string, const RegistryValue*> values_of(const PrefixSnapshot& s, const std::string& folded_key) {
  std::map<std::string, const RegistryValue*> values;
  for (auto it = s.values.lower_bound(folded_key + '\n'); it != s.values.end(); ++it) {
    if (it->first.compare(0, folded_key.size() + 1, folded_key + '\n') != 0) break;
    values[it->first.substr(folded_key.size() + 1)] = &it->second;
  }
  return values;
}

void compare_uninstall_entries(const PrefixSnapshot& before, const PrefixSnapshot& after, std::vector<Change>* out) {
  merge(before.keys, after.keys, [&](const std::string& id, const std::string* b, const std::string* a) {
    if (!is_uninstall_entry(id)) return;
    auto old_values = values_of(before, id), new_values = values_of(after, id);
    Change change{ChangeGroup::kUninstallEntries, a ? (b ? '~' : '+') : '-', a ? *a : *b, {}};
    merge(old_values, new_values,
          [&](const std::string&, const RegistryValue* const* ov, const RegistryValue* const* nv) {
            if (!b)
              change.details.push_back(value_name(**nv) + " = " + describe_registry_value(**nv));
            else if (!a)
              change.details.push_back(value_name(**ov) + " = " + describe_registry_value(**ov));
            else if (!ov)
              change.details.push_back("+ " + value_name(**nv) + " = " + describe_registry_value(**nv));
            else if (!nv)
              change.details.push_back("- " + value_name(**ov) + " = " + describe_registry_value(**ov));
            else if ((*ov)->type != (*nv)->type || (*ov)->data != (*nv)->data)
              change.details.push_back("~ " + value_name(**nv) + " = " + describe_registry_value(**nv) + " (was " +
                                       describe_registry_value(**ov) + ")");
          });
    if (change.mark != '~' || !change.details.empty()) out->push_back(change);
  });
}

void compare_ini(const PrefixSnapshot& before, const PrefixSnapshot& after, std::vector<Change>* out) {
  merge(before.ini, after.ini, [&](const std::string&, const IniFacts* b, const IniFacts* a) {
    if (!b)
      out->push_back({ChangeGroup::kIni, '+', ini_text(*a), {}});
    else if (!a)
      out->push_back({ChangeGroup::kIni, '-', ini_text(*b), {}});
    else if (a->entry.value != b->entry.value || a->entry.has_value != b->entry.has_value)
      out->push_back({ChangeGroup::kIni,
                      '~',
                      ini_text(*a) + " (was " + (b->entry.has_value ? "=" + b->entry.value : "no value") + ")",
                      {}});
  });
}

void compare_shortcuts(const PrefixSnapshot& before, const PrefixSnapshot& after, std::vector<Change>* out) {
  merge(before.shortcuts, after.shortcuts,
        [&](const std::string& path, const ShortcutFacts* b, const ShortcutFacts* a) {
          if (!b)
            out->push_back({ChangeGroup::kShortcuts, '+', shortcut_text(path, *a), {}});
          else if (!a)
            out->push_back({ChangeGroup::kShortcuts, '-', shortcut_text(path, *b), {}});
          else if (before.files.at(path).crc != after.files.at(path).crc ||
                   before.files.at(path).size != after.files.at(path).size)
            out->push_back({ChangeGroup::kShortcuts, '~', shortcut_text(path, *a), {}});
        });
}

}  // namespace

void add_registry(const RegistryText& text, const std::string& root, PrefixSnapshot* out) {
  for (const std::string& key : text.keys)
    for (std::string k = root + "\\" + key; k.size() > root.size(); k = parent_of(k)) {
      auto inserted = out->keys.emplace(fold_case(k), k);
      if (!inserted.second) break;  // its ancestors are there already
    }
  for (const RegistryValue& value : text.values) {
    RegistryValue v = value;
    v.key = root + "\\" + value.key;
    out->values[fold_case(v.key) + '\n' + fold_case(v.name)] = std::move(v);
  }
}

bool take_snapshot(const std::string& prefix, const PrefixSnapshot* reference, PrefixSnapshot* out, std::string* why,
                   const std::vector<SnapshotDrive>& drives) {
  *out = PrefixSnapshot();
  const struct {
    const char* file;
    const char* root;
  } hives[] = {{"system.reg", "HKLM"}, {"user.reg", "HKCU"}};
  for (const auto& hive : hives) {
    std::vector<uint8_t> bytes;
    std::string error;
    RegistryText text;
    std::string path = prefix + "/" + hive.file;
    if (!read_file(path.c_str(), &bytes, &error)) return fail(why, error);
    if (!parse_registry_text(bytes.data(), bytes.size(), &text, &error)) return fail(why, path + ": " + error);
    add_registry(text, hive.root, out);
  }
  int drive = open((prefix + "/drive_c").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (drive < 0) return fail(why, prefix + "/drive_c: cannot be opened");
  Walk walk{reference, out};
  walk_folder(&walk, drive, "C:", 0);
  for (const SnapshotDrive& d : drives) {
    int folder = open(d.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return fail(why, d.folder + ": cannot be opened");
    walk_folder(&walk, folder, d.name, 0);
    for (const std::string& name : d.own) out->files.erase(d.name + "\\" + name);
  }
  return true;
}

const char* change_group_title(ChangeGroup group) {
  switch (group) {
    case ChangeGroup::kFiles: return "Files";
    case ChangeGroup::kRegistry: return "Registry values";
    case ChangeGroup::kIni: return "INI entries";
    case ChangeGroup::kShortcuts: return "Shortcuts";
    case ChangeGroup::kUninstallEntries: return "Add/Remove entry";
  }
  return "";
}

std::vector<Change> compare_snapshots(const PrefixSnapshot& before, const PrefixSnapshot& after) {
  std::vector<Change> changes;
  compare_files(before, after, &changes);
  compare_registry(before, after, &changes);
  compare_ini(before, after, &changes);
  compare_shortcuts(before, after, &changes);
  compare_uninstall_entries(before, after, &changes);
  return changes;
}

std::vector<UninstallEntry> new_uninstall_entries(const PrefixSnapshot& before, const PrefixSnapshot& after) {
  std::vector<UninstallEntry> entries;
  for (const auto& key : after.keys) {
    if (!is_uninstall_entry(key.first) || before.keys.count(key.first)) continue;
    UninstallEntry entry;
    entry.key = key.second;
    auto values = values_of(after, key.first);
    std::string text;
    if (values.count("displayname") && registry_string(*values["displayname"], &text)) entry.display_name = text;
    if (values.count("quietuninstallstring") && registry_string(*values["quietuninstallstring"], &text) &&
        text.find_first_not_of(' ') != std::string::npos)
      entry.quiet_command = text;
    else if (values.count("uninstallstring") && registry_string(*values["uninstallstring"], &text) &&
             text.find_first_not_of(' ') != std::string::npos)
      entry.quiet_command = text + " /SILENT";
    entries.push_back(entry);
  }
  return entries;
}
