// The translation files that come with Kestrel (share/kestrel/translations,
// from builder/translations/): one per language, in UTF-8, each the
// default texts of the setup and the uninstaller in that language. en.txt
// explains the format.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A language a setup may offer: its code (the file's name), the Windows
// language it answers, and how its dialogs are lettered.
struct LanguageInfo {
  const char* code;
  uint16_t langid;      // LANGID of the language (primary and sub-language)
  uint16_t code_page;   // the ANSI code page its texts are written in
  uint8_t charset;      // the LOGFONT charset of that code page
  const char* face;     // the dialog font for its script; "" keeps the template's
};
// Every language that has a translation file; null for another code.
const LanguageInfo* find_language(const std::string& code);
const std::vector<LanguageInfo>& known_languages();

struct Translation {
  std::string code;
  std::string path;  // of its file, for messages
  unsigned code_page = 0;
  std::string name;  // the language's name for itself
  std::map<std::string, std::string> texts;  // by key, escapes resolved
  std::map<std::string, int> lines;          // the line of each key
  // "file:line" of a key, for a refusal.
  std::string where(const std::string& key) const;
};

// Reads one translation file: every line a comment, a header or a text
// whose every letter its code page holds. False with *error
// "file:line: why" otherwise.
bool read_translation(const std::string& path, const std::string& code, Translation* out, std::string* error);

// The folder of the shipped files; by default share/kestrel/translations
// beside the running program's bin folder.
const std::string& translations_folder();
void set_translations_folder(const std::string& folder);

// The shipped translation of `code`, read once; null with *error when it
// is missing or wrong.
const Translation* shipped_translation(const std::string& code, std::string* error);

// The %s and %d of a text in order ("%%" is a percent sign, no directive).
std::string text_directives(const std::string& text);
