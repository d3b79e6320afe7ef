#include "builder/translations.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "builder/code_page.h"

namespace {

// The dialog templates name "MS Sans Serif", which has no CJK letters: the
// languages of those scripts name the font that their Windows letters its
// dialogs with. Every other script is shown only where the system's code
// page is the language's (or its texts are ASCII), and there the
// template's font already carries the system's letters.
const std::vector<LanguageInfo> kLanguages = {
    {"en", 0x0409, 1252, 0, ""},          {"de", 0x0407, 1252, 0, ""},          {"fr", 0x040C, 1252, 0, ""},
    {"es", 0x0C0A, 1252, 0, ""},          {"it", 0x0410, 1252, 0, ""},          {"pt-BR", 0x0416, 1252, 0, ""},
    {"nl", 0x0413, 1252, 0, ""},          {"pl", 0x0415, 1250, 238, ""},        {"cs", 0x0405, 1250, 238, ""},
    {"sv", 0x041D, 1252, 0, ""},          {"tr", 0x041F, 1254, 162, ""},        {"el", 0x0408, 1253, 161, ""},
    {"ru", 0x0419, 1251, 204, ""},        {"ja", 0x0411, 932, 128, "MS UI Gothic"},
    {"zh-CN", 0x0804, 936, 134, "SimSun"}, {"ko", 0x0412, 949, 129, "Gulim"},
};

std::string& folder_setting() {
  static std::string folder = [] {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (self.parent_path().parent_path() / "share" / "kestrel" / "translations").string();
  }();
  return folder;
}

// "\r", "\n", "\\" resolved; false for any other escape.
bool unescape(const std::string& raw, std::string* out) {
  out->clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\') {
      out->push_back(raw[i]);
      continue;
    }
    char next = i + 1 < raw.size() ? raw[i + 1] : '\0';
    if (next == 'r') out->push_back('\r');
    else if (next == 'n') out->push_back('\n');
    else if (next == '\\') out->push_back('\\');
    else return false;
    ++i;
  }
  return true;
}

}  // namespace

const std::vector<LanguageInfo>& known_languages() { return kLanguages; }

const LanguageInfo* find_language(const std::string& code) {
  for (const LanguageInfo& l : kLanguages)
    if (code == l.code) return &l;
  return nullptr;
}

std::string Translation::where(const std::string& key) const {
  auto it = lines.find(key);
  return path + ":" + std::to_string(it == lines.end() ? 0 : it->second);
}

bool read_translation(const std::string& path, const std::string& code, Translation* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read (the translation of language \"" + code + "\")";
    return false;
  }
  Translation t;
  t.code = code;
  t.path = path;
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& why) {
    *error = path + ":" + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find(" = ");
    if (eq == std::string::npos) return fail("a line is KEY = TEXT, a # comment or empty");
    std::string key = line.substr(0, eq), raw = line.substr(eq + 3), text;
    if (key == "code_page") {
      unsigned value = 0;
      std::string converted, why;
      if (std::sscanf(raw.c_str(), "%u", &value) != 1 || !to_code_page("", value, &converted, &why))
        return fail("code_page: " + (why.empty() ? "must be a Windows code page's number" : why));
      t.code_page = value;
      continue;
    }
    if (t.code_page == 0) return fail("the first line must be code_page = N, the language's Windows code page");
    if (!unescape(raw, &text)) return fail(key + ": the only escapes are \\r, \\n and \\\\");
    if (key == "name") {
      t.name = text;
      continue;
    }
    if (t.texts.count(key)) return fail(key + ": given twice (first at line " + std::to_string(t.lines[key]) + ")");
    std::string converted, why;
    if (!to_setup_text(text, t.code_page, &converted, &why))
      return fail(key + ": " + why + " (language \"" + code + "\", code page " + std::to_string(t.code_page) + ")");
    t.texts[key] = text;
    t.lines[key] = number;
  }
  if (t.code_page == 0) return fail("the file has no code_page line");
  *out = std::move(t);
  return true;
}

const std::string& translations_folder() { return folder_setting(); }
void set_translations_folder(const std::string& folder) { folder_setting() = folder; }

const Translation* shipped_translation(const std::string& code, std::string* error) {
  static std::map<std::string, std::unique_ptr<Translation>> read;
  auto it = read.find(code + "\n" + translations_folder());
  if (it != read.end()) return it->second.get();
  auto t = std::make_unique<Translation>();
  std::string path = translations_folder() + "/" + code + ".txt";
  if (!read_translation(path, code, t.get(), error)) return nullptr;
  return (read[code + "\n" + translations_folder()] = std::move(t)).get();
}

std::string text_directives(const std::string& text) {
  std::string found;
  for (size_t p = text.find('%'); p != std::string::npos && p + 1 < text.size(); p = text.find('%', p + 2))
    if (text[p + 1] != '%') found += text.substr(p, 2);
  return found;
}
