#include "builder/project_reader.h"

#include "archive/entry_lists.h"
#include "archive/lzma_decoder.h"
#include "base/version_number.h"
#include "builder/code_page.h"
#include "builder/project_rules.h"
#include "builder/record_estimate.h"
#include "builder/sign_command.h"
#include "builder/translations.h"
#include "record/removal_plan.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <set>
#include <toml++/toml.h>

namespace fs = std::filesystem;

namespace {

// The file being read, for the "file:line: key: ..." of every message.
struct Reader {
  std::string file;
  fs::path folder;
  std::string error;
  unsigned code_page = 1252;
  bool per_user = false;  // privileges = "user"
  // The setup's languages, the default first: [setup] languages, or
  // English alone in a setup of one language (language_mode false), whose
  // texts are in code_page.
  std::vector<const Translation*> languages;
  bool language_mode = false;
  std::vector<std::string> warnings;
  bool choice = false;    // privileges = "choice"
  bool product = false;   // setup.product_id given: the texts of the upgrade
  bool machine_only = false;  // a "choice" setup whose items need the machine

  bool fail(const toml::node& node, const std::string& key, const std::string& message) {
    error = file + ":" + std::to_string(node.source().begin.line) + ": " + key + ": " + message;
    return false;
  }
  // A text the setup carries must fit its code page; found here, the
  // mistake is named by line before anything is compressed.
  bool fits(const toml::node& node, const std::string& key, const std::string& text) {
    std::string converted, why;
    return to_setup_text(text, code_page, &converted, &why) || fail(node, key, why);
  }
  // A per-user setup runs without administrator rights: what only they may
  // write would fail on the user's machine, after the files are in place.
  // A setup that lets its user choose installs such items for all users
  // only.
  bool without_rights() const { return per_user || choice; }
  bool needs_machine(const toml::node& node, const std::string& key, const std::string& what) {
    if (choice) return machine_only = true;
    return fail(node, key, what + " needs administrator rights, which a setup with privileges = \"user\" does not "
                                  "ask for");
  }
};

// What stands at `p`. The system's questions answer rather than throw: a
// name over 255 bytes, a loop of links or a folder without permission is
// reported with the path instead of ending the build. A missing file is
// file_type::not_found.
bool look_at(const fs::path& p, fs::file_type* type, std::string* why) {
  std::error_code ec;
  *type = fs::status(p, ec).type();
  if (ec && *type != fs::file_type::not_found) {
    *why = "cannot look at " + p.string() + ": " + ec.message();
    return false;
  }
  return true;
}

// True when `p` is a file; else *why says what is wrong with it.
bool is_file(const fs::path& p, std::string* why) {
  fs::file_type type;
  if (!look_at(p, &type, why)) return false;
  if (type == fs::file_type::regular) return true;
  *why = "no such file: " + p.string();
  return false;
}

// One table of the project file: hands out its keys by type and, at the
// end, refuses the keys nobody asked for, so a misspelt key is never
// silently ignored.
class Table {
 public:
  Table(Reader& reader, const toml::table& table, std::string prefix)
      : r_(reader), t_(table), prefix_(std::move(prefix)) {}

  std::string key(const std::string& name) const { return prefix_.empty() ? name : prefix_ + "." + name; }
  const toml::table& raw() const { return t_; }
  Reader& reader() { return r_; }

  const toml::node* find(const std::string& name) {
    seen_.insert(name);
    return t_.get(name);
  }

  // A text that goes into the setup.
  bool text(const std::string& name, std::string* out) {
    return path(name, out) && (!t_.get(name) || r_.fits(*t_.get(name), key(name), *out));
  }
  // A path on the building machine, which never goes into the setup.
  bool path(const std::string& name, std::string* out) {
    const toml::node* n = find(name);
    if (!n) return true;
    if (!n->is_string()) return r_.fail(*n, key(name), "must be a string");
    *out = n->as_string()->get();
    return true;
  }
  bool text(const std::string& name, std::optional<std::string>* out) {
    std::string value;
    if (!find_quiet(name)) return true;
    if (!text(name, &value)) return false;
    *out = value;
    return true;
  }
  bool flag(const std::string& name, bool* out) {
    const toml::node* n = find(name);
    if (!n) return true;
    if (!n->is_boolean()) return r_.fail(*n, key(name), "must be true or false");
    *out = n->as_boolean()->get();
    return true;
  }
  bool number(const std::string& name, int64_t low, int64_t high, int64_t* out) {
    const toml::node* n = find(name);
    if (!n) return true;
    if (!n->is_integer()) return r_.fail(*n, key(name), "must be a whole number");
    int64_t v = n->as_integer()->get();
    if (v < low || v > high)
      return r_.fail(*n, key(name), "must lie between " + std::to_string(low) + " and " + std::to_string(high));
    *out = v;
    return true;
  }
  // One of a fixed set of words, answered as its index.
  bool choice(const std::string& name, const std::vector<const char*>& words, int* out) {
    const toml::node* n = find(name);
    if (!n) return true;
    if (n->is_string()) {
      for (size_t i = 0; i < words.size(); ++i)
        if (n->as_string()->get() == words[i]) {
          *out = static_cast<int>(i);
          return true;
        }
    }
    std::string list;
    for (const char* w : words) list += std::string(list.empty() ? "" : ", ") + "\"" + w + "\"";
    return r_.fail(*n, key(name), "must be one of " + list);
  }
  // A file beside the project; it must exist.
  bool file(const std::string& name, std::string* out) {
    std::string value;
    if (!path(name, &value) || value.empty()) return r_.error.empty();
    fs::path p = r_.folder / value;
    std::string why;
    if (!is_file(p, &why)) return r_.fail(*t_.get(name), key(name), why);
    *out = p.string();
    return true;
  }
  const toml::table* subtable(const std::string& name) {
    const toml::node* n = find(name);
    if (!n) return nullptr;
    if (!n->is_table()) {
      r_.fail(*n, key(name), "must be a table");
      return nullptr;
    }
    return n->as_table();
  }
  bool done() {
    for (const auto& [k, v] : t_)
      if (!seen_.count(std::string(k.str()))) return r_.fail(v, key(std::string(k.str())), "unknown key");
    return true;
  }

 private:
  bool find_quiet(const std::string& name) const { return t_.get(name) != nullptr; }
  Reader& r_;
  const toml::table& t_;
  std::string prefix_;
  std::set<std::string> seen_;
};

// The tables of an array of tables ("[[type]]"), or none.
bool table_array(Table& parent, const std::string& name, std::vector<const toml::table*>* out) {
  const toml::node* n = parent.find(name);
  if (!n) return true;
  const toml::array* a = n->as_array();
  if (!a || !a->is_array_of_tables())
    return parent.reader().fail(*n, parent.key(name), "must be an array of tables ([[" + parent.key(name) + "]])");
  for (const auto& t : *a) out->push_back(t.as_table());
  return true;
}

// A rule of project_rules.h for a key just read: `problem` is "" when kept.
bool keeps(Table& t, const std::string& name, const std::string& problem) {
  return problem.empty() || t.reader().fail(*t.raw().get(name), t.key(name), problem);
}

// Keys that must not be missing or empty: the first such is named.
bool required(Table& t, std::initializer_list<std::pair<const char*, const std::string*>> keys) {
  for (const auto& [name, value] : keys)
    if (value->empty()) {
      const toml::node* n = t.raw().get(name);
      return t.reader().fail(n ? *n : t.raw(), t.key(name), "is required");
    }
  return true;
}

std::string where(const Reader& r, const toml::node& n) {
  return r.file + ":" + std::to_string(n.source().begin.line);
}

bool colour(Table& t, const std::string& name, uint32_t* out) {
  std::string value;
  if (!t.text(name, &value) || value.empty()) return t.reader().error.empty();
  unsigned rgb = 0;
  if (value.size() != 7 || value[0] != '#' || std::sscanf(value.c_str() + 1, "%6x", &rgb) != 1 ||
      value.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
    return t.reader().fail(*t.raw().get(name), t.key(name), "must be a colour written #RRGGBB");
  // COLORREF keeps red in the low byte.
  *out = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
  return true;
}

bool root_key_code(Table& t, const std::string& name, uint32_t* out) {
  int code = -1;
  // HKA: HKLM for all users, HKCU for one (kRootOfScope).
  const std::vector<const char*> roots = {"HKCR", "HKCU", "HKLM", "HKU", "HKA"};
  if (!t.choice(name, roots, &code)) return false;
  if (code == 2 && t.reader().without_rights() && !t.reader().needs_machine(*t.raw().get(name), t.key(name), "HKLM"))
    return false;
  if (code >= 0) *out = static_cast<uint32_t>(code);
  return true;
}

// What the uninstaller does with a setting: "keep" (the default),
// "delete", or for registry values "delete-key-if-empty" as well.
bool uninstall_choice(Table& t, bool registry, bool* remove, bool* key_if_empty) {
  int choice = 0;
  std::vector<const char*> words = {"keep", "delete"};
  if (registry) words.push_back("delete-key-if-empty");
  if (!t.choice("uninstall", words, &choice)) return false;
  *remove = choice >= 1;
  *key_if_empty = choice == 2;
  return true;
}

// Backslashes are the archive's separators; a project may write either.
std::string windows_path(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

bool read_background(Reader& r, const toml::table& table, Project* p) {
  Table t(r, table, "background");
  if (!t.file("picture", &p->background_picture)) return false;
  std::optional<std::string> title;
  if (!t.text("title", &title)) return false;
  p->background_title = title;
  BackgroundStyleFields style;
  style.text_color = 0xFFFFFF;
  style.font.height = -48;
  style.font.weight = 700;
  style.font.italic = 1;
  style.font.face_name = "Times New Roman";
  int64_t height = 48, weight = 700;
  bool italic = true;
  if (!colour(t, "text_color", &style.text_color) || !colour(t, "shadow_color", &style.shadow_color) ||
      !t.text("font", &style.font.face_name) || !t.number("height", 6, 400, &height) ||
      !t.number("weight", 100, 900, &weight) || !t.flag("italic", &italic))
    return false;
  if (style.font.face_name.size() > 31) return r.fail(*table.get("font"), "background.font", "at most 31 characters");
  style.font.height = -static_cast<int32_t>(height);  // negative: the letters' height, not the cell's
  style.font.weight = static_cast<int32_t>(weight);
  style.font.italic = italic ? 1 : 0;
  p->background_style = style;
  return t.done();
}

bool read_remember(Reader& r, const toml::table& table, const std::string& prefix, SetupTypeRecordFields* rec) {
  Table t(r, table, prefix);
  bool write = false;
  if (const toml::table* reg = t.subtable("registry")) {
    Table g(r, *reg, prefix + ".registry");
    std::string key, value;
    rec->root_key = 1;
    if (!root_key_code(g, "root", &rec->root_key) || !g.text("key", &key) || !g.text("value", &value) || !g.done())
      return false;
    if (key.empty()) return r.fail(*reg, prefix + ".registry.key", "is required");
    if (!keeps(g, "key", escape_in_path(key)) || !keeps(g, "key", macro_left_as_written(key))) return false;
    rec->registry_key = windows_path(key);
    rec->registry_value = value;
  }
  if (const toml::table* ini = t.subtable("ini")) {
    Table g(r, *ini, prefix + ".ini");
    std::string file, section, key;
    if (!g.text("file", &file) || !g.text("section", &section) || !g.text("key", &key) || !g.done()) return false;
    if (!required(g, {{"file", &file}, {"section", &section}, {"key", &key}}) ||
        !keeps(g, "file", escape_in_path(file)) || !keeps(g, "file", macro_left_as_written(file)))
      return false;
    rec->ini_file = windows_path(file);
    rec->ini_section = section;
    rec->ini_key = key;
  }
  bool remove = false, key_if_empty = false;
  if (!r.error.empty() || !t.flag("write", &write) || !uninstall_choice(t, rec->registry_key.has_value(), &remove,
                                                                         &key_if_empty))
    return false;
  if (write && rec->registry_key) rec->flags |= kTypeRememberInRegistry;
  if (write && rec->ini_file) rec->flags |= kTypeRememberInIni;
  if (write && !rec->registry_key && !rec->ini_file)
    return r.fail(table, prefix + ".write", "needs a registry or ini place to write to");
  if (remove && !write) return r.fail(*table.get("uninstall"), prefix + ".uninstall", "needs write = true");
  if (remove && rec->registry_key && !keeps(t, "uninstall", removable_key_problem(*rec->registry_key))) return false;
  if (remove && rec->ini_file && !keeps(t, "uninstall", removable_ini_file_problem(*rec->ini_file))) return false;
  if (remove) rec->flags |= kTypeForgetFolder;
  if (key_if_empty) rec->flags |= kTypeForgetFolderKey;
  return t.done();
}

// The setup's language of that code other than the default, or null.
const Translation* other_language(const Reader& r, const std::string& code) {
  for (size_t i = 1; i < r.languages.size(); ++i)
    if (r.languages[i]->code == code) return r.languages[i];
  return nullptr;
}

// "L/N" keys of a texts table; a table inside it holds another language's
// texts, read on its own.
bool read_texts(Reader& r, const toml::table& table, const std::string& prefix, TextLists* lists) {
  for (const auto& [k, v] : table) {
    std::string name(k.str());
    if (v.is_table()) {
      if (other_language(r, name)) continue;
      return r.fail(v, prefix + "." + name,
                    r.language_mode ? "is not one of the other languages of [setup] languages"
                                    : "texts of another language need [setup] languages");
    }
    unsigned list = 0, index = 0;
    char tail = 0;
    if (std::sscanf(name.c_str(), "%u/%u%c", &list, &index, &tail) != 2 || list >= kTextListCount)
      return r.fail(v, prefix + "." + name, "a text is named list/number, such as \"6/0\", with a list below 11");
    std::string problem = text_number_problem(list, index);
    if (!problem.empty()) return r.fail(v, prefix + "." + name, problem);
    if (!v.is_string()) return r.fail(v, prefix + "." + name, "must be a string");
    if (!r.fits(v, prefix + "." + name, v.as_string()->get())) return false;
    auto& texts = (*lists)[list];
    if (texts.size() <= index) texts.resize(index + 1);
    texts[index] = v.as_string()->get();
  }
  return true;
}

// A text that the program formats must keep its one directive, and no
// other text may hold one: wsprintfA would read arguments that are not
// there. Only the texts the project gives are the project's to check: a
// default text holds the title as the program shows it ("100% Pure").
bool check_formats(Reader& r, const toml::table& given, const std::string& prefix, const TextLists& lists) {
  for (const auto& [key, node] : given) {
    unsigned l = 0, i = 0;
    if (node.is_table() || std::sscanf(std::string(key.str()).c_str(), "%u/%u", &l, &i) != 2) continue;
    const char* wanted = nullptr;
    for (const TextFormat& f : formatted_texts())
      if (f.list == static_cast<int>(l) && f.index == static_cast<int>(i)) wanted = f.directive.c_str();
    std::string found = text_directives(lists[l][i]);
    bool plain = !wanted && found.empty();
    bool one = wanted && found == wanted;
    // A formatted text may also leave its directive out.
    if (!plain && !one && !(wanted && found.empty()))
      return r.fail(node, prefix + "." + std::string(key.str()),
                    wanted ? std::string("may hold one ") + wanted + " and no other % directive (write %% for %)"
                           : "may hold no % directive (write %% for %)");
  }
  return true;
}

// Files of a "source" pattern: a path whose last part may hold * ? [ ],
// optionally walked into subfolders. Sorted, so builds are repeatable.
bool expand_source(Reader& r, const toml::node& at, const std::string& key, const std::string& pattern,
                   bool recursive, std::vector<std::pair<fs::path, std::string>>* out) {
  fs::path full = r.folder / pattern;
  fs::path dir = full.parent_path();
  std::string leaf = full.filename().string();
  bool wild = leaf.find_first_of("*?[") != std::string::npos;
  if (pattern.find_first_of("*?[") < pattern.size() - leaf.size())
    return r.fail(at, key, "wildcards may stand only in the last part of the path");
  std::string why;
  fs::file_type type;
  if (!wild && !look_at(full, &type, &why)) return r.fail(at, key, why);
  if (!wild && !recursive && type != fs::file_type::directory) {
    if (type != fs::file_type::regular) return r.fail(at, key, "no such file: " + full.string());
    out->push_back({full, full.filename().string()});
    return true;
  }
  if (!wild && type == fs::file_type::directory) {  // a folder given whole
    dir = full;
    leaf = "*";
  }
  if (!look_at(dir, &type, &why)) return r.fail(at, key, why);
  if (type != fs::file_type::directory) return r.fail(at, key, "no such folder: " + dir.string());
  std::vector<std::pair<fs::path, std::string>> found;
  std::error_code ec;
  // A link that leads nowhere is no file; one the system cannot follow is
  // named.
  auto consider = [&](const fs::directory_entry& e) {
    if (!look_at(e.path(), &type, &why)) return false;
    if (type != fs::file_type::regular) return true;
    if (fnmatch(leaf.c_str(), e.path().filename().c_str(), 0) != 0) return true;
    found.push_back({e.path(), windows_path(e.path().lexically_relative(dir).string())});
    return true;
  };
  bool looked = true;
  if (recursive) {
    for (fs::recursive_directory_iterator it(dir, ec), end; looked && !ec && it != end; it.increment(ec))
      looked = consider(*it);
  } else {
    for (fs::directory_iterator it(dir, ec), end; looked && !ec && it != end; it.increment(ec)) looked = consider(*it);
  }
  if (!looked) return r.fail(at, key, why);
  if (ec) return r.fail(at, key, "cannot read " + dir.string() + ": " + ec.message());
  if (found.empty()) return r.fail(at, key, "matches no file: " + full.string());
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  out->insert(out->end(), found.begin(), found.end());
  return true;
}

// Options that files and folders share.
bool read_item_common(Table& t, ProjectItem* item) {
  int folder = 0, role = -1;
  if (!t.choice("folder", {"install", "windows", "system", "fonts"}, &folder) ||
      !t.choice("role", {"document", "program"}, &role))
    return false;
  const char* const kMachineFolders[] = {"", "the Windows folder", "the System folder", "the Fonts folder"};
  if (folder != 0 && t.reader().without_rights() &&
      !t.reader().needs_machine(*t.raw().get("folder"), t.key("folder"), kMachineFolders[folder]))
    return false;
  item->folder_code = static_cast<uint8_t>(folder);
  if (role >= 0) item->finish_role = static_cast<uint8_t>(role + 1);
  if (!t.text("arguments", &item->program_arguments)) return false;
  if (const toml::node* n = t.raw().get("arguments")) {
    if (item->finish_role != kRoleProgram)
      return t.reader().fail(*n, t.key("arguments"),
                             "are for the program the finish page runs: give this item role = \"program\" too");
    if (!keeps(t, "arguments", unknown_macro(item->program_arguments))) return false;
    if (item->program_arguments.size() >= kPathSize)
      return t.reader().fail(*n, t.key("arguments"), "may be at most " + std::to_string(kPathSize - 1) + " bytes long");
  }
  std::string desktop;
  if (const toml::table* d = t.subtable("desktop")) {
    Table s(t.reader(), *d, t.key("desktop"));
    if (!s.text("name", &item->desktop_name) || !s.text("arguments", &item->desktop_arguments) || !s.done())
      return false;
    if (item->desktop_name.empty()) return t.reader().fail(*d, t.key("desktop.name"), "is required");
  }
  if (const toml::table* m = t.subtable("menu")) {
    Table s(t.reader(), *m, t.key("menu"));
    int64_t icon = 0;
    std::vector<std::string> locations;
    if (const toml::node* n = s.find("folders")) {
      const toml::array* a = n->as_array();
      if (!a || a->empty())
        return t.reader().fail(*n, s.key("folders"), "must be a list of start-menu folders, such as [\"My Product\"]");
      for (const auto& e : *a) {
        if (!e.is_string()) return t.reader().fail(e, s.key("folders"), "must hold strings");
        std::string f = windows_path(e.as_string()->get());
        if (f.find(';') != std::string::npos)
          return t.reader().fail(e, s.key("folders"), "a folder name may not hold ';'");
        std::string problem = menu_location_problem(f);
        if (!problem.empty()) return t.reader().fail(e, s.key("folders"), problem);
        if (!t.reader().fits(e, s.key("folders"), f)) return false;
        locations.push_back(f);
      }
    } else {
      locations.push_back("");  // the Programs folder itself
    }
    if (!s.text("name", &item->menu_name) || !s.text("arguments", &item->menu_arguments) ||
        !s.number("icon", 0, 65535, &icon) || !s.done())
      return false;
    if (item->menu_name.empty()) return t.reader().fail(*m, t.key("menu.name"), "is required");
    for (size_t i = 0; i < locations.size(); ++i) item->menu_locations += (i ? ";" : "") + locations[i];
    item->icon_index = static_cast<uint16_t>(icon);
  }
  return t.reader().error.empty();
}

bool read_files(Reader& r, const toml::table& table, const std::string& prefix, ProjectType* type) {
  Table t(r, table, prefix);
  std::string source, to, name, patch_of;
  bool recursive = false, keep = false, in_source = false, shared = false;
  int reg = -1;
  ProjectItem item;
  item.where = where(r, table);
  item.key = prefix;
  if (!t.path("source", &source) || !t.flag("recursive", &recursive) || !t.text("to", &to) ||
      !t.text("name", &name) || !t.flag("keep", &keep) || !t.flag("in_source", &in_source) ||
      !t.flag("shared", &shared) || !t.choice("register", {"screen-saver", "library"}, &reg) ||
      !t.flag("compare_version", &item.compare_version) || !t.flag("compare_language", &item.compare_language) ||
      !t.flag("times", &item.store_times) || !t.flag("from_source", &item.from_source) ||
      !t.path("patch_of", &patch_of) || !t.flag("sign", &item.sign) || !read_item_common(t, &item) || !t.done())
    return false;
  if (source.empty()) return r.fail(table, prefix + ".source", "is required");
  if (shared && item.folder_code == kFolderInstallDir)
    return r.fail(table, prefix + ".shared", "counts only files outside the installation folder");
  if (reg == kRegisterLibrary - 1 && r.without_rights() &&
      !r.needs_machine(*table.get("register"), prefix + ".register", "a library's self-registration"))
    return false;
  item.shared = shared;
  item.kind = in_source ? kKindInSource : keep ? kKindFile : kKindRemovable;
  if (reg >= 0) item.registration = static_cast<uint8_t>(reg + 1);
  std::vector<std::pair<fs::path, std::string>> found;
  if (in_source || item.from_source) {
    // The file lies beside the setup file at install time; the build only
    // reads it when it is there, for its size and version.
    found.push_back({r.folder / source, windows_path(fs::path(source).filename().string())});
  } else if (!expand_source(r, *table.get("source"), prefix + ".source", source, recursive, &found)) {
    return false;
  }
  if (!name.empty() && found.size() != 1)
    return r.fail(table, prefix + ".name", "renames a single file, but the source matches " +
                                               std::to_string(found.size()));
  if (!patch_of.empty()) {
    if (found.size() != 1) return r.fail(table, prefix + ".patch_of", "needs a single source file");
    fs::path base = r.folder / patch_of;
    std::string why;
    if (!is_file(base, &why)) return r.fail(table, prefix + ".patch_of", why);
    item.patch_base = base.lexically_normal().string();
  }
  std::string folder = windows_path(to);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  for (auto& [path, relative] : found) {
    ProjectItem it = item;
    it.source = path.lexically_normal().string();
    std::string leaf = name.empty() ? relative : windows_path(name);
    it.name = folder.empty() ? leaf : folder + "\\" + leaf;
    type->items.push_back(it);
  }
  return true;
}

bool read_folder(Reader& r, const toml::table& table, const std::string& prefix, ProjectType* type) {
  Table t(r, table, prefix);
  ProjectItem item;
  item.where = where(r, table);
  item.key = prefix;
  item.kind = kKindFolder;
  std::string name;
  if (!t.text("name", &name) || !read_item_common(t, &item) || !t.done()) return false;
  name = windows_path(name);
  while (!name.empty() && name.back() == '\\') name.pop_back();
  if (name.empty()) return r.fail(table, prefix + ".name", "is required");
  item.name = name + "\\";  // the folder chain is made up to the last backslash
  type->items.push_back(item);
  return true;
}

// The uninstaller takes back only what its record can name whole.
bool fits_uninstall_record(Reader& r, const toml::table& entry, Table& e, std::initializer_list<std::string> texts) {
  for (const std::string& text : texts)
    if (text.size() >= kSettingTextCapacity)
      return r.fail(entry, e.key("uninstall"),
                    "a key, name or section to delete at uninstall is at most " +
                        std::to_string(kSettingTextCapacity - 1) + " bytes");
  return true;
}

bool read_settings(Reader& r, Table& t, const std::string& prefix, ProjectType* type) {
  std::vector<const toml::table*> list;
  if (!table_array(t, "ini", &list)) return false;
  for (size_t i = 0; i < list.size(); ++i) {
    Table e(r, *list[i], prefix + ".ini[" + std::to_string(i) + "]");
    IniEntryFields entry;
    bool keep = false, remove = false, key_if_empty = false;
    if (!e.text("file", &entry.file) || !e.text("section", &entry.section) || !e.text("key", &entry.key) ||
        !e.text("value", &entry.value) || !e.flag("keep_existing", &keep) ||
        !uninstall_choice(e, false, &remove, &key_if_empty) || !e.done())
      return false;
    if (!required(e, {{"file", &entry.file}, {"section", &entry.section}, {"key", &entry.key}}) ||
        !keeps(e, "file", escape_in_path(entry.file)) || !keeps(e, "file", unknown_macro(entry.file)) ||
        !keeps(e, "value", unknown_macro(entry.value)))
      return false;
    if (remove && !fits_uninstall_record(r, *list[i], e, {entry.section, entry.key})) return false;
    entry.file = windows_path(entry.file);
    if (remove && !keeps(e, "file", removable_ini_file_problem(entry.file))) return false;
    entry.flags = (keep ? kEntryKeepExisting : 0) | (remove ? kEntryDeleteAtUninstall : 0);
    type->ini_entries.push_back(entry);
  }
  list.clear();
  if (!table_array(t, "registry", &list)) return false;
  for (size_t i = 0; i < list.size(); ++i) {
    Table e(r, *list[i], prefix + ".registry[" + std::to_string(i) + "]");
    RegistryEntryFields entry;
    entry.root_key = 1;
    bool keep = false, remove = false, key_if_empty = false;
    if (!root_key_code(e, "root", &entry.root_key) || !e.text("key", &entry.key) ||
        !e.text("name", &entry.value_name) || !e.text("value", &entry.value) || !e.flag("keep_existing", &keep) ||
        !uninstall_choice(e, true, &remove, &key_if_empty) || !e.done())
      return false;
    if (entry.key.empty()) return r.fail(*list[i], e.key("key"), "is required");
    if (!keeps(e, "key", escape_in_path(entry.key)) || !keeps(e, "key", macro_left_as_written(entry.key)) ||
        !keeps(e, "value", unknown_macro(entry.value)))
      return false;
    if (!keeps(e, "name", search_path_value_problem(entry.root_key, windows_path(entry.key), entry.value_name)))
      return false;
    if (remove && !fits_uninstall_record(r, *list[i], e, {entry.key, entry.value_name})) return false;
    entry.key = windows_path(entry.key);
    if (remove && !keeps(e, "key", removable_key_problem(entry.key))) return false;
    entry.flags = (keep ? kEntryKeepExisting : 0) | (remove ? kEntryDeleteAtUninstall : 0) |
                 (key_if_empty ? kEntryDeleteKeyIfEmpty : 0);
    type->registry_entries.push_back(entry);
  }
  list.clear();
  if (!table_array(t, "patch", &list)) return false;
  for (size_t i = 0; i < list.size(); ++i) {
    Table e(r, *list[i], prefix + ".patch[" + std::to_string(i) + "]");
    StringPatchFields entry;
    int64_t offset = -1;
    std::string after;
    if (!e.text("file", &entry.file) || !e.text("text", &entry.text) || !e.number("offset", 0, INT32_MAX, &offset) ||
        !e.text("after", &after) || !e.done())
      return false;
    if (!required(e, {{"file", &entry.file}, {"text", &entry.text}})) return false;
    if (offset < 0 && after.empty())
      return r.fail(*list[i], e.key("offset"), "a patch needs offset or after to say where its text goes");
    if (offset >= 0 && !after.empty())
      return r.fail(*list[i], e.key("offset"), "a patch is placed by either offset or after, not both");
    if (!keeps(e, "file", escape_in_path(entry.file)) || !keeps(e, "file", unknown_macro(entry.file)) ||
        !keeps(e, "text", unknown_macro(entry.text)))
      return false;
    entry.file = windows_path(entry.file);
    entry.offset = static_cast<int32_t>(offset);
    entry.pattern.assign(after.begin(), after.end());
    type->string_patches.push_back(entry);
  }
  list.clear();
  if (!table_array(t, "path", &list)) return false;
  for (size_t i = 0; i < list.size(); ++i) {
    Table e(r, *list[i], prefix + ".path[" + std::to_string(i) + "]");
    ProjectPathEntry entry;
    int scope = -1;
    if (!e.text("folder", &entry.folder) || !e.choice("scope", {"user", "machine"}, &scope) || !e.done())
      return false;
    if (!required(e, {{"folder", &entry.folder}}) || !keeps(e, "folder", escape_in_path(entry.folder)) ||
        !keeps(e, "folder", unknown_macro(entry.folder)) || !keeps(e, "folder", search_path_folder_problem(entry.folder)))
      return false;
    entry.folder = windows_path(entry.folder);
    if (scope >= 0) entry.scope = static_cast<uint8_t>(scope);
    type->path_entries.push_back(entry);
  }
  return true;
}

// A text file as the wizard shows it: without a UTF-8 mark, lines ended
// with CR LF as the edit control wants them.
bool read_text_file(const std::string& path, std::string* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::string raw;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) raw.append(buffer, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
  out->clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) out->push_back('\r');
    out->push_back(raw[i]);
  }
  return ok;
}

bool read_signing(Reader& r, const toml::table& table, Project* p) {
  Table t(r, table, "signing");
  if (!t.path("command", &p->sign_command) || !t.flag("payload", &p->sign_payload) || !t.done()) return false;
  std::string why;
  if (!table.get("command")) return r.fail(table, "signing.command", "is required: the command that signs {file}");
  if (!check_sign_command(p->sign_command, &why)) return r.fail(*table.get("command"), "signing.command", why);
  return true;
}

// What the setup's 392-byte key path leaves behind the Uninstall key's path.
constexpr size_t kMaxProductIdLength = 339;

// [setup] product_id: a key name under Uninstall, which the versions of
// the product share, so that their versions must compare as numbers.
bool read_product_id(Table& t, const toml::table& setup, const std::string& id, const std::string& version) {
  Reader& r = t.reader();
  if (!setup.get("product_id")) {
    for (const char* key : {"downgrade", "close_applications"})
      if (const toml::node* n = setup.get(key))
        return r.fail(*n, std::string("setup.") + key, "needs setup.product_id");
    return true;
  }
  const toml::node& node = *setup.get("product_id");
  bool plain = !id.empty() && id.size() <= kMaxProductIdLength;
  for (char c : id) plain = plain && c >= ' ' && c <= '~' && c != '\\';
  if (!plain)
    return r.fail(node, "setup.product_id",
                  "must be 1 to 339 ASCII letters, digits and signs, without a backslash (such as a GUID or "
                  "\"Publisher.Product\"): it names the registry key under Uninstall that lists the product");
  if (!is_version_number(version.c_str()))
    return r.fail(setup.get("version") ? *setup.get("version") : node, "setup.version",
                  "must be numbers separated by dots (such as \"2.0.1\") in a setup with a product_id: the "
                  "installed version is compared with it");
  return true;
}

// The Add/Remove Programs values of [setup], in the order of the product
// details.
const char* const kDetailKeys[] = {"version", "publisher", "url", "icon"};
const char* const kUninstallerTextKeys[] = {"caption", "question", "removed", "removed_left", "removed_restart"};

// [type.uninstaller_texts] after the [setup] values: the type's product
// details, trailing empty texts left out.
bool read_details(Reader& r, Table& t, const std::vector<std::string>& product, std::vector<std::string>* details) {
  *details = product;
  details->resize(kDetailUninstallerTexts + kUninstallerTextCount);
  if (const toml::table* texts = t.subtable("uninstaller_texts")) {
    Table u(r, *texts, t.key("uninstaller_texts"));
    for (int i = 0; i < kUninstallerTextCount; ++i) {
      std::string& text = (*details)[kDetailUninstallerTexts + i];
      if (!u.text(kUninstallerTextKeys[i], &text) || !keeps(u, kUninstallerTextKeys[i], uninstaller_text_problem(text)))
        return false;
    }
    // Another language's texts are read with its other texts.
    for (size_t i = 1; i < r.languages.size(); ++i)
      if (texts->contains(r.languages[i]->code) && !u.subtable(r.languages[i]->code)) return false;
    if (!u.done()) return false;
  }
  while (!details->empty() && details->back().empty()) details->pop_back();
  return r.error.empty();
}

// The finish page runs the last item with role "program": its arguments
// join the type's product details; another item's would never be used.
bool read_program_arguments(Reader& r, ProjectType* type) {
  const ProjectItem* program = nullptr;
  for (const ProjectItem& item : type->items)
    if (item.finish_role == kRoleProgram) program = &item;
  for (const ProjectItem& item : type->items)
    if (&item != program && !item.program_arguments.empty()) {
      r.error = item.where + ": " + item.key + ".arguments: the finish page runs only the last item with role " +
                "\"program\" (" + program->where + ": " + program->name + "), so these arguments would never be used";
      return false;
    }
  if (!program || program->program_arguments.empty()) return true;
  if (type->details.size() <= kDetailProgramArguments) type->details.resize(kDetailProgramArguments + 1);
  type->details[kDetailProgramArguments] = program->program_arguments;
  return true;
}

// What the texts of a setup type are made from, for each of its languages.
struct TypeTextsContext {
  const toml::table& table;   // the [[type]]
  const toml::table* texts;   // its [type.texts], or null
  std::string prefix;         // "type[N]"
  const std::optional<std::string>& title;
  const std::string& licence;  // the licence's text, "" none
  bool removes_others;
  uint32_t architecture;
  bool scope_choice;      // privileges = "choice": the question of the scope
  bool document = false;  // an item with role "document"
};

// The code page of language `li`'s texts.
unsigned language_code_page(const Reader& r, size_t li) {
  return r.language_mode ? r.languages[li]->code_page : r.code_page;
}

std::string language_note(const Reader& r, size_t li) {
  if (!r.language_mode) return "";
  return " (language \"" + r.languages[li]->code + "\", code page " + std::to_string(language_code_page(r, li)) +
         ")";
}

// The texts that language `li` gives itself: [type.texts] for the default,
// [type.texts.CODE] for another; null for none.
const toml::table* language_table(const Reader& r, const toml::table* texts, size_t li) {
  if (!texts || li == 0) return texts;
  const toml::node* n = texts->get(r.languages[li]->code);
  return n ? n->as_table() : nullptr;
}

// The lists of language `li` of a setup type as the setup carries them:
// the translation's texts for the title, the licence, the project's own
// texts; in a setup of one language cut to what earlier builders wrote,
// and any later text the project gives.
bool type_lists(Reader& r, const TypeTextsContext& c, size_t li, TextLists* out) {
  const Translation& language = *r.languages[li];
  const unsigned code_page = language_code_page(r, li);
  const toml::table* given = language_table(r, c.texts, li);
  const std::string given_prefix = c.prefix + ".texts" + (li > 0 ? "." + language.code : "");
  std::string converted, why;
  // A title this language's code page cannot write: its texts speak of
  // the product in general words, and its title is its own 6/0.
  bool named = c.title && to_setup_text(*c.title, code_page, &converted, &why);
  if (c.title && !named)
    r.warnings.push_back("setup.title cannot be written in code page " + std::to_string(code_page) +
                         ": the texts of language \"" + language.code +
                         "\" speak of the product without its name; give its own title as [type.texts." +
                         language.code + "] \"6/0\"");
  TextLists lists = translated_texts(language, named ? *c.title : "", c.architecture);
  if (named) lists[6][0] = *c.title;
  const std::vector<std::string> defaults = lists[6];
  if (!c.licence.empty()) {
    if (!to_setup_text(c.licence, code_page, &converted, &why))
      return r.fail(*c.table.get("licence"), c.prefix + ".licence", why + language_note(r, li));
    lists[1][1] = c.licence;
  }
  const unsigned saved = r.code_page;
  r.code_page = code_page;
  bool ok = !given || (read_texts(r, *given, given_prefix, &lists) && check_formats(r, *given, given_prefix, lists));
  r.code_page = saved;
  if (!ok) return false;
  if (!c.document && !(given && given->contains("5/2"))) lists[5][2] = "";
  // The texts of the removal of other types stay out of a setup that does
  // not remove them, unless the project gives one; nor does the text of the
  // 64-bit mode stay in a setup without it.
  bool no_platform = c.architecture == kArchitectureX86 && lists[6][kPlatformText] == defaults[kPlatformText];
  bool no_removal = !c.removes_others && std::equal(lists[6].begin() + kFirstRemovalText,
                                                    lists[6].begin() + kPlatformText, defaults.begin() + kFirstRemovalText);
  if (no_platform) lists[6][kPlatformText].clear();
  if (no_removal) std::fill(lists[6].begin() + kFirstRemovalText, lists[6].begin() + kPlatformText, std::string());
  // The question of the scope only in a setup that asks it.
  bool no_scope = !c.scope_choice && std::equal(lists[6].begin() + kScopeText, lists[6].begin() + kScopeTextEnd,
                                                defaults.begin() + kScopeText);
  if (no_scope) std::fill(lists[6].begin() + kScopeText, lists[6].begin() + kScopeTextEnd, std::string());
  // The texts of the upgrade only in a setup with a product id.
  bool interrupted = r.language_mode || language.code != "en";
  if (!r.product && interrupted) std::fill(lists[6].begin() + kUpgradeText, lists[6].begin() + kUpgradeTextEnd, std::string());
  if (r.language_mode) lists[6].resize(kInterruptedText + 1);
  if (!r.language_mode)
    for (int l = 0; l < kTextListCount; ++l) {
      size_t keep = kClassicListSizes[l];
      if (l == 6 && no_platform) keep = no_removal ? size_t{kFirstRemovalText} : size_t{kPlatformText};
      if (l == 6 && !no_scope) keep = kScopeTextEnd;
      if (l == 6 && r.product) keep = kUpgradeTextEnd;
      if (l == 6 && interrupted) keep = kInterruptedText + 1;
      for (const auto& [k, v] : given ? *given : toml::table{}) {
        unsigned list = 0, index = 0;
        if (std::sscanf(std::string(k.str()).c_str(), "%u/%u", &list, &index) == 2 && list == static_cast<unsigned>(l) &&
            index >= kClassicListSizes[l])
          keep = std::max<size_t>(keep, index + 1);
      }
      lists[l].resize(keep);
    }
  *out = std::move(lists);
  return true;
}

// The uninstaller's texts of language `li`: its translation's, with the
// ones [type.uninstaller_texts] (or its table CODE) gives in their place.
bool language_uninstaller_texts(Reader& r, const toml::table* given_all, const std::string& prefix, size_t li,
                                std::vector<std::string>* out) {
  *out = uninstaller_texts(*r.languages[li]);
  const toml::table* given = language_table(r, given_all, li);
  if (!given) return true;
  const std::string key_prefix = prefix + (li > 0 ? "." + r.languages[li]->code : "");
  Table u(r, *given, key_prefix);
  const unsigned saved = r.code_page;
  r.code_page = language_code_page(r, li);
  bool ok = true;
  for (int i = 0; ok && i < kUninstallerTextCount; ++i) {
    std::string text;
    ok = u.text(kUninstallerTextKeys[i], &text) && keeps(u, kUninstallerTextKeys[i], uninstaller_text_problem(text));
    if (ok && given->contains(kUninstallerTextKeys[i])) (*out)[i] = text;
  }
  r.code_page = saved;
  if (!ok) return false;
  return li > 0 ? u.done() : true;
}

// A text the project gives for the default language and not for another
// leaves that one with the shipped wording: the publisher should know.
void warn_untranslated(Reader& r, const toml::table* texts, const std::string& prefix) {
  if (!texts) return;
  for (const auto& [k, v] : *texts) {
    if (v.is_table()) continue;
    for (size_t li = 1; li < r.languages.size(); ++li) {
      const toml::table* other = language_table(r, texts, li);
      if (!other || !other->contains(k.str()))
        r.warnings.push_back(where(r, v) + ": " + prefix + "." + std::string(k.str()) + " is given for \"" +
                             r.languages[0]->code + "\" but not for \"" + r.languages[li]->code +
                             "\", which shows its own default text");
    }
  }
}

bool read_type(Reader& r, const toml::table& table, size_t index, const std::optional<std::string>& title,
               const std::vector<std::string>& product, bool removes_others, uint32_t architecture, ProjectType* type) {
  std::string prefix = "type[" + std::to_string(index) + "]";
  Table t(r, table, prefix);
  SetupTypeRecordFields& rec = type->record;
  std::string caption, folder, licence;
  bool editable = true;
  if (!t.text("caption", &rec.caption) || !t.text("uninstall_name", &rec.uninstall_name) ||
      !t.text("folder", &folder) || !t.flag("folder_editable", &editable) || !t.file("licence", &licence))
    return false;
  if (folder.empty()) return r.fail(table, prefix + ".folder", "is required (the default installation folder)");
  // The name is a key under Uninstall; a backslash would hide it a level deeper.
  if (rec.uninstall_name && rec.uninstall_name->find('\\') != std::string::npos)
    return r.fail(*table.get("uninstall_name"), prefix + ".uninstall_name",
                  "may not hold a backslash: it names the registry key under Uninstall that lists the product");
  if (!keeps(t, "folder", escape_in_path(folder)) || !keeps(t, "folder", unknown_macro(folder)) ||
      !keeps(t, "folder", default_folder_problem(folder)))
    return false;
  rec.default_folder = windows_path(folder);
  if (editable) rec.flags |= kTypeFolderEditable;
  if (const toml::table* remember = t.subtable("remember")) {
    if (!read_remember(r, *remember, prefix + ".remember", &rec)) return false;
  } else if (!r.error.empty()) {
    return false;
  }
  std::string licence_text;
  if (!licence.empty()) {
    if (!read_text_file(licence, &licence_text)) return r.fail(table, prefix + ".licence", "cannot read " + licence);
    if (licence_text.compare(0, 2, "\xFF\xFE") == 0 || licence_text.compare(0, 2, "\xFE\xFF") == 0)
      return r.fail(*table.get("licence"), prefix + ".licence", "is UTF-16: save it as UTF-8");
  }
  const toml::table* texts = t.subtable("texts");
  if (!texts && !r.error.empty()) return false;
  if (!read_details(r, t, product, &type->details)) return false;
  std::vector<const toml::table*> list;
  if (!table_array(t, "files", &list)) return false;
  for (size_t i = 0; i < list.size(); ++i)
    if (!read_files(r, *list[i], prefix + ".files[" + std::to_string(i) + "]", type)) return false;
  list.clear();
  if (!table_array(t, "folders", &list)) return false;
  for (size_t i = 0; i < list.size(); ++i)
    if (!read_folder(r, *list[i], prefix + ".folders[" + std::to_string(i) + "]", type)) return false;
  if (!read_program_arguments(r, type)) return false;
  // The finish page has an Open button only for a document: without one,
  // its default text must not ask the user to press it.
  TypeTextsContext c{table, texts, prefix, title, licence_text, removes_others, architecture, r.choice};
  c.document = std::any_of(type->items.begin(), type->items.end(),
                           [](const ProjectItem& item) { return item.finish_role == kRoleDocument; });
  TextLists lists;
  if (!type_lists(r, c, 0, &lists)) return false;
  if (r.language_mode) {
    const toml::table* uninstaller = t.subtable("uninstaller_texts");
    for (size_t li = 0; li < r.languages.size(); ++li) {
      LanguageTexts language;
      if ((li > 0 && !type_lists(r, c, li, &language.lists)) ||
          !language_uninstaller_texts(r, uninstaller, prefix + ".uninstaller_texts", li, &language.uninstaller))
        return false;
      type->languages.push_back(std::move(language));
    }
    type->languages[0].lists = lists;
    warn_untranslated(r, texts, prefix + ".texts");
    warn_untranslated(r, uninstaller, prefix + ".uninstaller_texts");
  }
  for (int l = 0; l < kTextListCount; ++l) rec.text_lists[l] = lists[l];
  return read_settings(r, t, prefix, type) && t.done();
}

// The code page of every text: read first, since every text is checked
// against it as it is read.
bool read_code_page(Table& t, unsigned* out) {
  int64_t code_page = 1252;
  if (!t.number("code_page", 1, 65535, &code_page)) return false;
  std::string converted, why;
  if (!to_code_page("", static_cast<unsigned>(code_page), &converted, &why))
    return t.reader().fail(*t.raw().get("code_page"), t.key("code_page"), why);
  *out = static_cast<unsigned>(code_page);
  return true;
}

// [setup] languages: shipped translations, the default first, whose code
// page then is every text's and name's of the default tables.
bool read_languages(Table& t, Project* p) {
  Reader& r = t.reader();
  const toml::node* n = t.find("languages");
  if (!n) return true;
  const toml::array* codes = n->as_array();
  if (!codes || codes->empty())
    return r.fail(*n, "setup.languages", "must be a list of language codes, the default first, such as [\"en\", \"de\"]");
  std::string known;
  for (const LanguageInfo& l : known_languages()) known += std::string(known.empty() ? "" : ", ") + l.code;
  std::vector<const Translation*> languages;
  for (const toml::node& item : *codes) {
    const std::string code = item.is_string() ? item.as_string()->get() : "";
    const LanguageInfo* info = find_language(code);
    if (!info) return r.fail(item, "setup.languages", "\"" + code + "\" is none of the languages Kestrel has texts for: " + known);
    if (std::find(p->languages.begin(), p->languages.end(), code) != p->languages.end())
      return r.fail(item, "setup.languages", "names \"" + code + "\" twice");
    std::string why;
    const Translation* language = shipped_translation(code, &why);
    if (!language) return r.fail(item, "setup.languages", why);
    if (language->code_page != info->code_page)
      return r.fail(item, "setup.languages", language->where("code_page") + ": language \"" + code +
                                                 "\" is written in code page " + std::to_string(info->code_page));
    languages.push_back(language);
    p->languages.push_back(code);
  }
  // The names are stored once, in the default language's code page.
  if (t.raw().contains("code_page") && r.code_page != languages[0]->code_page)
    return r.fail(*t.raw().get("code_page"), "setup.code_page",
                  "must be " + std::to_string(languages[0]->code_page) + ", the code page of the first language, \"" +
                      languages[0]->code + "\" (or be left out)");
  r.languages = languages;
  r.language_mode = true;
  r.code_page = languages[0]->code_page;
  return true;
}

// With more than one setup type the setup type page offers them by their
// captions: one without would be an empty choice.
bool captions_given(Reader& r, const std::vector<const toml::table*>& tables, const Project& p) {
  const uint16_t kSetupTypePage = 2;
  bool page_shown = !p.start_page || p.start_page->start_page == 0xFFFF || p.start_page->start_page == kSetupTypePage;
  for (size_t i = 0; page_shown && tables.size() > 1 && i < tables.size(); ++i)
    if (!p.types[i].record.caption || p.types[i].record.caption->empty())
      return r.fail(*tables[i], "type[" + std::to_string(i) + "].caption",
                    "is required when the setup offers more than one setup type: it is the choice on the setup "
                    "type page");
  return true;
}

}  // namespace

uint8_t path_entry_scope(const Project& project, const ProjectPathEntry& entry) {
  if (entry.scope) return *entry.scope;
  return project.per_user ? kPathScopeUser : kPathScopeMachine;
}

bool read_project(const std::string& path, Project* project, std::string* error) {
  Reader r;
  r.file = path;
  r.folder = fs::path(path).parent_path();
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& e) {
    *error = path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
    // Windows paths are the usual cause: "C:\Apps" is an escape in TOML.
    if (error->find("escape sequence") != std::string::npos || error->find("unicode scalar") != std::string::npos)
      *error += " (in a \"...\" string write a backslash as \\\\, or use / or a '...' string)";
    // Refusals quote the file's own texts: they stay one line.
    *error = visible(*error);
    return false;
  }
  Project p;
  p.path = path;
  std::string why;
  const Translation* english = shipped_translation("en", &why);
  if (!english) {
    *error = why;
    return false;
  }
  r.languages = {english};
  Table top(r, root, "");
  std::optional<std::string> title;
  std::vector<std::string> product(std::size(kDetailKeys));  // by kDetail...
  bool ok = true;
  if (const toml::table* setup = top.subtable("setup")) {
    Table t(r, *setup, "setup");
    bool full_screen = false, remove_others = false;
    int64_t start_type = 0;
    int single = -1, privileges = 0, architecture = 0, compression = 0, downgrade = 0, close_applications = 0;
    int64_t dictionary = 0;
    const toml::node* uninstaller = t.find("uninstaller");
    if (uninstaller && uninstaller->is_boolean() && !uninstaller->as_boolean()->get()) p.uninstaller_name.clear();
    else if (uninstaller && uninstaller->is_string()) p.uninstaller_name = windows_path(uninstaller->as_string()->get());
    else if (uninstaller) ok = r.fail(*uninstaller, "setup.uninstaller", "must be a file name or false");
    ok = ok && read_code_page(t, &r.code_page) && read_languages(t, &p) && t.text("title", &title) && t.flag("full_screen", &full_screen) &&
         t.flag("remove_other_types", &remove_others) &&
         t.file("wizard_picture", &p.wizard_picture) && t.file("dialogs", &p.dialog_resources) &&
         t.choice("single_page", {"welcome", "licence", "setup-type", "destination", "ready", "progress", "finish",
                                  "closing"}, &single) &&
         t.number("start_type", 0, kMaxSetupTypes - 1, &start_type) &&
         t.choice("privileges", {"admin", "user", "choice"}, &privileges) &&
         t.choice("architecture", {"x86", "x64", "arm64", "x64compatible"}, &architecture) &&
         t.path("copyright", &p.copyright) && t.file("setup_icon", &p.setup_icon) &&
         t.text("product_id", &p.product_id) && t.choice("downgrade", {"ask", "refuse", "allow"}, &downgrade) &&
         t.choice("close_applications", {"no", "yes"}, &close_applications) &&
         t.choice("compression", {"kestrel", "lzma"}, &compression) && t.number("lzma_dictionary", 1, 4096, &dictionary);
    p.lzma = compression == 1;
    if (ok && dictionary && !p.lzma)
      ok = r.fail(*t.find("lzma_dictionary"), "setup.lzma_dictionary", "is the dictionary of compression = \"lzma\" only");
    // The setup program allocates the dictionary whole: beyond 16 MiB a
    // machine of 64 MB, on which the setup must run, may not give it.
    if (ok && dictionary > (kLzmaMaxDictionary >> 20))
      ok = r.fail(*t.find("lzma_dictionary"), "setup.lzma_dictionary",
                  "is " + std::to_string(dictionary) + " MiB, more than the setup program allocates on a machine of 64 MB "
                  "(at most " + std::to_string(kLzmaMaxDictionary >> 20) + " MiB)");
    if (dictionary) p.lzma_dictionary = static_cast<uint32_t>(dictionary) << 20;
    for (size_t i = 0; ok && i < product.size(); ++i) ok = t.text(kDetailKeys[i], &product[i]);
    ok = ok && keeps(t, "url", product[kDetailUrl].empty() ? "" : web_address_problem(product[kDetailUrl])) &&
         keeps(t, "icon", product[kDetailIcon].empty() ? "" : display_icon_problem(product[kDetailIcon])) && t.done();
    product[kDetailIcon] = windows_path(product[kDetailIcon]);
    p.downgrade = static_cast<uint8_t>(downgrade);  // in the order of kDowngrade...
    p.close_applications = close_applications == 1;
    r.product = !p.product_id.empty();
    if (ok) ok = read_product_id(t, *setup, p.product_id, product[kDetailVersion]);
    p.title = title;
    p.version = product[kDetailVersion];
    p.publisher = product[kDetailPublisher];
    p.per_user = privileges == 1;
    p.scope_choice = privileges == 2;
    r.per_user = p.per_user;
    r.choice = p.scope_choice;
    p.architecture = static_cast<uint32_t>(architecture);  // in the order of kArchitecture...
    if (ok && uninstaller && p.uninstaller_name.empty() && uninstaller->is_string())
      ok = r.fail(*uninstaller, "setup.uninstaller", "must not be empty (write false for none)");
    if (ok && !p.uninstaller_name.empty() && uninstaller)
      ok = keeps(t, "uninstaller", item_name_problem(p.uninstaller_name, false)) &&
           r.fits(*uninstaller, "setup.uninstaller", p.uninstaller_name);
    p.code_page = r.code_page;
    if (full_screen) p.setup_flags |= kSetupFullScreen;
    if (remove_others) p.setup_flags |= kSetupRemoveOthers;
    if (ok && (single >= 0 || start_type != 0)) {
      StartPageFields start;
      start.start_page = single >= 0 ? static_cast<uint16_t>(single) : 0xFFFF;
      start.setup_type = static_cast<uint16_t>(start_type);
      p.start_page = start;
    }
  }
  ok = ok && r.error.empty();
  if (ok) {
    if (const toml::table* bg = top.subtable("background")) ok = read_background(r, *bg, &p);
    ok = ok && r.error.empty();
  }
  if (ok) {
    if (const toml::table* signing = top.subtable("signing")) ok = read_signing(r, *signing, &p);
    ok = ok && r.error.empty();
  }
  std::vector<const toml::table*> types;
  ok = ok && table_array(top, "type", &types);
  if (ok && types.empty()) ok = r.fail(root, "type", "a project needs at least one [[type]]");
  if (ok && types.size() > static_cast<size_t>(kMaxSetupTypes))
    ok = r.fail(*types[kMaxSetupTypes], "type", "a setup holds at most six setup types");
  for (size_t i = 0; ok && i < types.size(); ++i) {
    p.types.emplace_back();
    ok = read_type(r, *types[i], i, title, product, (p.setup_flags & kSetupRemoveOthers) != 0, p.architecture, &p.types.back());
  }
  if (ok && p.start_page && p.start_page->setup_type >= p.types.size())
    ok = r.fail(*root.get("setup"), "setup.start_type", "names a setup type that does not exist");
  ok = ok && captions_given(r, types, p) && check_item_names(p, &r.error) && check_record_sizes(p, &r.error);
  ok = ok && top.done();
  // One warning for each thing, however many setup types it touches.
  for (const std::string& warning : r.warnings)
    if (std::find(p.warnings.begin(), p.warnings.end(), warning) == p.warnings.end()) p.warnings.push_back(warning);
  if (!ok) {
    *error = visible(r.error);
    return false;
  }
  // The machine's search path, like HKLM, is for all users only.
  p.machine_only = r.machine_only;
  for (const ProjectType& type : p.types)
    for (const ProjectPathEntry& entry : type.path_entries)
      if (p.scope_choice && path_entry_scope(p, entry) == kPathScopeMachine) p.machine_only = true;
  *project = std::move(p);
  return true;
}
