#include "builder/project_rules.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "archive/file_entry.h"
#include "base/globals.h"
#include "builder/code_page.h"
#include "builder/item_name.h"
#include "builder/text_catalogue.h"
#include "install/macro_tokens.h"
#include "record/removal_plan.h"

namespace {

std::string quoted(const std::string& text) { return "\"" + visible(text) + "\""; }

// Letter case as Windows file names and the setup's macros ignore it.
std::string folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Edits (insert, delete, replace) between two texts, ignoring letter case.
size_t edit_distance(const std::string& a, const std::string& b) {
  std::string x = folded(a), y = folded(b);
  std::vector<size_t> row(y.size() + 1);
  for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= y.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[y.size()];
}

// " (did you mean X?)" for the nearest of `names` when it is near enough to
// be a slip of the keyboard, else "".
template <size_t N>
std::string did_you_mean(const std::string& token, const char* const (&names)[N]) {
  const char* best = nullptr;
  size_t best_distance = 0;
  for (const char* name : names) {
    size_t d = edit_distance(token, name);
    if (!best || d < best_distance) best = name, best_distance = d;
  }
  std::string name(best);
  if (best_distance > 3 || 2 * best_distance >= name.size()) return "";
  return " (did you mean " + name + "?)";
}

template <size_t N>
std::string listed(const char* const (&names)[N]) {
  std::string out;
  for (size_t i = 0; i < N; ++i) out += std::string(i == 0 ? "" : i + 1 == N ? " and " : ", ") + names[i];
  return out;
}

bool is_location_word(const std::string& text) {
  for (const char* word : kLocationWords)
    if (folded(text) == folded(word)) return true;
  return false;
}

// The first token of `text` that names a macro or a location word, or "".
std::string known_token(const std::string& text) {
  size_t length = 0;
  for (const char* p = text.c_str(); const char* token = next_macro_token(p, &length); p = token + length) {
    std::string t(token, length);
    if (macro_of_token(token, length) >= 0 || is_location_word(t)) return t;
  }
  return "";
}

// Characters Windows refuses in a file or folder name (the separators and
// the drive colon are judged by split_item_name).
std::string bad_character(const std::string& name) {
  for (char c : name)
    if (std::string("<>\"|?*").find(c) != std::string::npos) return std::string("'") + c + "'";
  return "";
}

// Where a name lands, as Windows compares names.
std::string destination_key(const ProjectItem& item) {
  return std::to_string(item.folder_code) + ":" + folded(item.name);
}

}  // namespace

std::string visible(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
      continue;
    }
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02X", c);
    out += code;
  }
  return out;
}

std::string unknown_macro(const std::string& text) {
  size_t length = 0;
  for (const char* p = text.c_str(); const char* token = next_macro_token(p, &length); p = token + length) {
    if (macro_of_token(token, length) >= 0) continue;
    std::string t = visible(std::string(token, length));
    std::string hint = did_you_mean(t, kMacroNames);
    if (!hint.empty()) return t + " is not a macro" + hint;
    return t + " is not a macro: the setup drops any text between two '#' that does not name one of " +
           listed(kMacroNames);
  }
  return "";
}

std::string macro_left_as_written(const std::string& text) {
  std::string token = known_token(text);
  if (token.empty()) return "";
  return "the setup uses this text as written and leaves " + token +
         " as it stands (macros are replaced in folders, INI files and values, registry values and patches)";
}

std::string default_folder_problem(const std::string& folder) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  bool letter = (folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z');
  if (folder.size() >= 3 && letter && folder[1] == ':' && separator(folder[2])) return "";
  if (folder.size() >= 3 && separator(folder[0]) && separator(folder[1]) && !separator(folder[2])) return "";
  size_t length = 0;
  const char* token = next_macro_token(folder.c_str(), &length);
  int macro = token == folder.c_str() ? macro_of_token(token, length) : -1;
  if (macro == kMacroWindows || macro == kMacroSystem || macro == kMacroProgramFiles || macro == kMacroSourceDir)
    return "";
  std::string why = macro == kMacroInstallDir ? " begins with #InstallDir#, which here would stand for this text itself"
                    : macro == kMacroDate     ? " begins with #Date#, which names no folder"
                    : letter && folder.size() >= 2 && folder[1] == ':' ? " has a drive but no backslash after it"
                                                                       : " has no drive and no macro";
  std::string hint = folder.find('%') != std::string::npos ? " (environment variables such as %APPDATA% are not "
                                                             "replaced: only macros are)"
                                                           : "";
  return quoted(folder) + why + ", so the setup would install relative to its current folder; begin it with " +
         "#Program Files#, #Windows#, #System# or #SourceDir#, or with a drive such as C:\\" + hint;
}

std::string escape_in_path(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20)
      return "holds a control character: in a \"...\" string \\n, \\t and the like are escapes, so write a "
             "backslash as \\\\ or use /";
  return "";
}

std::string removable_key_problem(const std::string& key) {
  if (is_plain_registry_key(key.data(), key.size())) return "";
  return quoted(key) + ": a key the uninstaller deletes from has no empty step (a backslash at either end or two "
                       "together) and no \".\" or \"..\" step, or the uninstaller removes nothing of the installation";
}

namespace {

// The key's steps, folded to lower case, without empty ones: the registry
// finds "Environment\\" and "environment" alike.
std::vector<std::string> folded_steps(const std::string& key) {
  std::vector<std::string> steps(1);
  for (char c : key) {
    if (c == '\\') {
      if (!steps.back().empty()) steps.emplace_back();
    } else {
      steps.back().push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
  }
  if (steps.back().empty()) steps.pop_back();
  return steps;
}

bool is_control_set(const std::string& step) {
  if (step == "currentcontrolset") return true;
  return step.size() == 13 && step.compare(0, 10, "controlset") == 0 &&
         std::all_of(step.begin() + 10, step.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string search_path_value_problem(uint32_t root, const std::string& key, const std::string& name) {
  std::string folded_name;
  for (char c : name) folded_name.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  if (folded_name != "path") return "";
  std::vector<std::string> s = folded_steps(key);
  const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
  bool user = (root == 1 && s.size() == 1 && s[0] == "environment") ||
              (root == 3 && s.size() == 2 && s[1] == "environment");
  bool machine = root == 2 && s.size() == 5 && s[0] == "system" && is_control_set(s[1]) && s[2] == "control" &&
                 s[3] == "session manager" && s[4] == "environment";
  if (!user && !machine) return "";
  return quoted(name) + " of " + (root < 4 ? kRoots[root] : "?") + "\\" + visible(key) +
         " is the search path " + (machine ? "of the machine" : "of the user") +
         ": a registry value would replace it whole, and deleting it at uninstall would take every other folder "
         "with it" + (machine ? ", System32 too" : "") + "; use [[type.path]] to add a folder to it";
}

std::string search_path_folder_problem(const std::string& folder) {
  if (folder.find_first_of(";\"") != std::string::npos)
    return quoted(folder) + ": a search path separates its folders with \";\", so a folder there holds no \";\" "
                            "and no quotes";
  if (folder.size() >= kPathSize)
    return quoted(folder) + ": a folder is at most " + std::to_string(kPathSize - 1) + " bytes";
  return "";
}

std::string removable_ini_file_problem(const std::string& file) {
  if (file.find('\\') == std::string::npos) return "";  // the Windows folder's, recorded whole
  size_t length = 0;
  const char* token = next_macro_token(file.c_str(), &length);
  bool plain;
  if (token == file.c_str()) {
    // A folder macro gives a whole path; what follows must stay plain.
    std::string below = file.substr(length);
    plain = below.size() > 1 && below[0] == '\\' && is_plain_registry_key(below.data() + 1, below.size() - 1);
  } else {
    plain = is_plain_file_path(file.data(), file.size());
  }
  if (plain) return "";
  return quoted(file) + ": the uninstaller takes back entries of an INI file named alone (in the Windows folder) or "
                        "by its whole path, with no empty, \".\" or \"..\" step, such as \"#InstallDir#\\\\app.ini\"";
}

std::string item_name_problem(const std::string& name, bool folder) {
  std::vector<std::string> parts;
  bool trailing = false;
  std::string why;
  std::string shown = quoted(name) + ": ";
  if (!split_item_name(name.c_str(), &parts, &trailing, &why))
    return shown + why + "; an item's name is relative to the folder its folder key chooses";
  if (!folder && trailing) return shown + "a file's name must not end in a folder separator";
  std::string escape = escape_in_path(name);
  if (!escape.empty()) return shown + escape;
  std::string bad = bad_character(name);
  if (!bad.empty()) return shown + "holds " + bad + ", which Windows does not allow in a file name";
  std::string token = known_token(name);
  if (!token.empty())
    return shown + "the setup uses names as written and would make a folder called " + token +
           "; an item's folder key chooses among the installation, Windows, System and Fonts folders";
  return "";
}

std::string menu_location_problem(const std::string& location) {
  if (location.empty() || is_location_word(location)) return "";
  size_t length = 0;
  const char* token = next_macro_token(location.c_str(), &length);
  if (token == location.c_str() && length == location.size())
    return visible(location) + " is not a start-menu location" + did_you_mean(location, kLocationWords) + ": " +
           listed(kLocationWords) + " stand alone; anything else is a folder under Programs";
  std::vector<std::string> parts;
  bool trailing = false;
  std::string why;
  if (!split_item_name(location.c_str(), &parts, &trailing, &why))
    return quoted(location) + ": " + why + "; a location is a folder under Programs";
  std::string escape = escape_in_path(location);
  if (!escape.empty()) return quoted(location) + ": " + escape;
  std::string bad = bad_character(location);
  if (!bad.empty()) return quoted(location) + ": holds " + bad + ", which Windows does not allow in a folder name";
  std::string known = known_token(location);
  if (!known.empty())
    return quoted(location) + ": " + known + " is replaced only as a whole location; here it would be a folder's name";
  return "";
}

std::string text_number_problem(unsigned list, unsigned index) {
  size_t count = list < kTextListCount ? kListSizes[list] : 0;
  if (index < count) return "";
  if (count == 0) return "the setup shows no text of list " + std::to_string(list);
  return "there is no text " + std::to_string(list) + "/" + std::to_string(index) + ": list " + std::to_string(list) +
         " holds texts 0 to " + std::to_string(count - 1);
}

bool check_item_names(const Project& project, std::string* error) {
  for (const ProjectType& type : project.types) {
    std::map<std::string, const ProjectItem*> installed;  // destination -> first item placed there
    for (const ProjectItem& item : type.items) {
      const std::string at = item.where + ": " + item.key + ": ";
      std::string problem = item_name_problem(item.name, item.kind == kKindFolder);
      if (problem.empty() && item.folder_code == kFolderShared && item.name.find('\\') != std::string::npos)
        problem = quoted(item.name) + ": a shared system file goes where Windows keeps it, so its name holds no "
                  "folder (leave out to, and recursive)";
      std::string converted;
      if (problem.empty() && !to_setup_text(item.name, project.code_page, &converted, &problem))
        problem = quoted(item.name) + ": " + problem;
      if (!problem.empty()) {
        *error = at + problem;
        return false;
      }
      // Folders may be named twice; files beside the setup are not written.
      if (item.kind == kKindFolder || item.kind == kKindInSource) continue;
      std::string key = destination_key(item);
      if (!project.uninstaller_name.empty() && key == "0:" + folded(project.uninstaller_name)) {
        *error = at + "installs " + visible(item.name) + ", the name of the uninstaller (setup.uninstaller)";
        return false;
      }
      // A later copy that compares versions or languages asks before it
      // replaces: installing over its own earlier item is then a choice.
      auto [earlier, added] = installed.emplace(key, &item);
      if (!added && !item.compare_version && !item.compare_language) {
        *error = at + "installs " + visible(item.name) + ", which " + earlier->second->key + " (" + earlier->second->where +
                 ") installs too: the second copy would replace the first";
        return false;
      }
    }
  }
  return true;
}

std::string web_address_problem(const std::string& url) {
  std::string scheme = folded(url.substr(0, url.find(':') == std::string::npos ? 0 : url.find(':') + 3));
  if ((scheme != "http://" && scheme != "https://") || url.size() == scheme.size())
    return "must be a web address that starts with http:// or https://";
  for (unsigned char c : url)
    if (c <= 0x20 || c == '"' || c == 0x7F) return "may hold no space, quote or control character (write %20 for a space)";
  // The closing page hands it on in a path-sized buffer.
  if (url.size() > 259) return "is at most 259 bytes";
  return "";
}

std::string display_icon_problem(const std::string& icon) {
  size_t comma = icon.rfind(',');
  std::string path = icon.substr(0, comma);
  if (comma != std::string::npos) {
    std::string index = icon.substr(comma + 1);
    size_t sign = index.compare(0, 1, "-") == 0 ? 1 : 0;  // a negative index is a resource id
    if (index.size() == sign || index.size() > sign + 5 || index.find_first_not_of("0123456789", sign) != std::string::npos)
      return "a \",index\" after the path must be a whole number, such as \",0\"";
  }
  if (path.empty()) return "needs the path of a program or icon file, such as \"#InstallDir#\\\\Viewer.exe\"";
  std::string problem = escape_in_path(path);
  return problem.empty() ? unknown_macro(path) : problem;
}

std::string uninstaller_text_problem(const std::string& text) {
  int names = 0;
  for (size_t p = text.find('%'); p != std::string::npos; p = text.find('%', p + 2)) {
    if (p + 1 < text.size() && text[p + 1] == '%') continue;
    if (p + 1 >= text.size() || text[p + 1] != 's') return "may hold %s for the product's name and no other % directive (write %% for %)";
    ++names;
  }
  return names > 1 ? "may name the product (%s) once" : "";
}
